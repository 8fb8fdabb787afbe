// Helpers for the transfer-component tests: an event log that records every
// event of a TkvCustomHTTP in order (with the figures of interest), and a
// bounded wait that serves the UI loop meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kelvora/kvHTTP.h"

namespace kvtest {

struct HttpEvents {
  // Names in order: "HeaderInfo", "ReadProgress", "UploadProgress", "Password", "ProxyLogin", "Done",
  // "DoneWithoutData", "ConnectionLost", "NoConnection", "HTTPError", "RequestFailed", "DownloadStopped",
  // "TransferAborted", "WaitTimeout". Status changes and redirects are kept apart (worker thread).
  std::vector<std::string> Names;
  int HeaderStatus = 0;
  int64_t HeaderLength = -1;
  std::string HeaderContentType, HeaderRaw, HeaderETag, HeaderLocation;
  kelvora::TDateTime HeaderLastModified = 0;
  int ProgressCount = 0;
  int64_t LastFileSize = -1, LastBytesRead = -1;
  uint8_t LastPercents = 0;
  int32_t LastElapsed = 0, LastEstimate = 0;
  float LastRate = 0;
  std::string DoneContentType;
  int64_t DoneFileSize = -1;
  bool DoneHadData = false;
  int64_t DoneDataPosition = -1;
  std::string Data;  // body of the memory stream of Done, ConnectionLost or HTTPError
  int ErrorStatus = 0;
  int64_t LostFileSize = -1, LostBytesRead = -1;
  std::string Realm;

  std::mutex WorkerMutex;  // the worker-thread events below
  std::vector<int> Statuses;
  std::vector<std::string> StatusTexts;
  std::vector<std::string> Redirects;
  int BeforeSend = 0;

  // Hooks the tests may set; called after the event was recorded.
  std::function<void(bool& ContinueDownload)> OnHeader;
  std::function<void()> OnProgress;
  std::function<void(bool& TryAgain)> OnPassword;
  std::function<void(std::string& User, std::string& Pass, bool& TryAgain)> OnProxy;
  std::function<void()> OnFinished;  // after Done, DoneWithoutData, RequestFailed, DownloadStopped, TransferAborted

  // Attaches every event of Http.
  void Attach(kelvora::TkvCustomHTTP& Http);
  // Forgets what was recorded and the hooks.
  void Reset();
  std::string Joined() const;
  // Names without the progress events.
  std::vector<std::string> Outcome() const;
  bool Finished() const;
};

// Serves the UI loop until Done() holds or TimeoutMs passed (a safety
// bound, not a timing check). Returns Done().
bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs = 20000);
// Serves the UI loop for about Ms milliseconds.
void PumpFor(int Ms);

// Attributes of a file as this system keeps them (read-only, DOSATTRIB).
kelvora::TkvFileAttributes AttributesOf(const std::string& Path);

}  // namespace kvtest
