// The request worker: the body of one transfer's job. It works on its own
// transfer object only; everything it hands to the UI thread goes through
// the job's hand-off, and everything it does to files happens under the
// transfer's zone lock after checking that the transfer was not stopped.
// RequestWorker.cpp holds the run up to the header event; the send step,
// logins, byte ranges, local files and the output with its read loop are in
// RequestWorker{Send,Login,Ranges,LocalFile,Output}.cpp.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "http/ObserverPipeline.h"
#include "http/Transfer.h"
#include "http/UrlParts.h"
#include "kelvora/kvThread.h"

namespace kelvora::httpimpl {

class TRequestWorker {
 public:
  explicit TRequestWorker(std::shared_ptr<TTransfer> T);
  void Run();

  // The body of the component's jobs: takes the transfer its start left in
  // the hub and runs it.
  static void RunJob(const std::shared_ptr<THub>& Hub);

 private:
  enum class Next { End, Restart, Output };

  // Abort check: a stopped transfer unwinds; a terminate request runs the
  // abort step and ends the job.
  void Check();
  // Runs Fn on the UI thread while the worker waits.
  void Sync(const std::function<void()>& Fn);
  // Runs Fn under the zone lock unless the transfer was stopped or released.
  template <class F>
  void Guarded(F&& Fn) {
    {
      std::lock_guard lk(t_.Zone);
      if (t_.Killed.load()) throw EThreadStop{};
      if (t_.Active) {
        Fn();
        return;
      }
    }
    EndReleased();
  }
  // The host released the output while the job ran: the transfer ends as
  // an abort, with its event, never silently.
  [[noreturn]] void EndReleased();
  // A worker-thread event: outside the zone lock, skipped once stopped.
  void WorkerEvent(const std::function<void()>& Fn);
  static void OnStatus(TTransfer& T, void* Context, uint32_t Status, const void* Info, uint32_t Length);

  bool OpenSession();
  Next Request();
  bool Send(int MethodIndex, bool& SkipToRetryDecision);
  bool Upload(bool& SkipToRetryDecision);
  int64_t SizeProbe();
  bool AddRangeHeaders(uint32_t Modifiers, int64_t From, int64_t To, bool Forced);
  void AskPassword();
  void AskProxyLogin();
  void ReadResponseHeaders();
  // The range this request asks for: the resume range, else the Range
  // setting; {0, 0} for the whole resource.
  std::pair<int64_t, int64_t> RangeAsked() const;
  bool RangeAnswerFits();
  Next LocalFile();
  Next Output();
  Next AbandonResume();
  void ReadProgress();
  // Writes Count bytes that belong at Position of the output, and shows
  // them to the body observer (Observe false: the caller passes them on).
  bool WriteOutput(int64_t Position, const uint8_t* Data, int64_t Count, bool Observe = true);
  // With a positive ProgressInterval: whether an event is due now.
  bool EventDue(uint32_t& LastEvent) const;
  void UploadProgress();
  void FreeStream();
  void DropRequest();
  bool QueryText(uint32_t Level, std::string& Value);

  std::shared_ptr<TTransfer> keep_;
  TTransfer& t_;
  TTransferSettings& s_;
  TUrlParts url_;
  std::string object_;
  std::string scheme_;
  size_t block_ = 4096;
  bool local_ = false;
  int64_t localLeft_ = 0;
  int methodIndex_ = 0;
  bool rangeRetried_ = false;
  // The body observer of a large paced download to a file; last, so that
  // its thread has ended before anything else of the worker goes.
  std::unique_ptr<TObserverPipeline> observer_;
};

}  // namespace kelvora::httpimpl
