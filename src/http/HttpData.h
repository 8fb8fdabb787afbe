// The transfer component's state: every field of a TkvCustomHTTP, kept out
// of the installed header so that the component can gain state without
// changing the class's size or layout.
#pragma once

#include <memory>
#include <string>

#include "kelvora/kvHTTP.h"

namespace kelvora {

struct TkvCustomHTTP::TData {
  // Owned objects.
  std::unique_ptr<TkvOutputFileAttributes> outputFileAttributes_;
  TkvCustomThread* thread_ = nullptr;
  TStringList requestHeaders_;
  std::unique_ptr<TkvHTTPProxy> proxy_;
  std::unique_ptr<TkvHTTPRange> range_;
  std::unique_ptr<TkvHTTPTimeouts> timeouts_;

  // Settings.
  std::string acceptTypes_ = "text/html, */*";
  std::string agent_ = "ztHTTP component (Corvanta)";
  std::string outputFileName_, url_, postData_, referer_, uploadHeaders_;
  TkvCacheOptions requestCacheOptions_{coReloadIfNoExpireInformation, coReloadUpdatedObjects,
                                       coCreateTempFilesIfCantCache};
  TkvInternetOptions internetOptions_{ioKeepConnection};
  int32_t transferBufferSize_ = 4096;
  int32_t progressInterval_ = 0;
  int64_t progressAlertSize_ = -1;
  TBodyObserver bodyObserver_;
  TOutputOpener outputOpener_;
  bool uploadFromStream_ = false;
  TkvHTTPRequestMethod requestMethod_ = rmAuto;
  bool autoGoOnline_ = false, workOffline_ = false;

  // Run-time state.
  std::shared_ptr<net::TNetClient> client_;  // connection cache shared by the transfers
  std::shared_ptr<httpimpl::THub> hub_;
  TransferPtr current_;
  std::unique_ptr<TMemoryStream> uploadSource_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int32_t statusCode_ = -1;
  int64_t contentLength_ = 0, bytesTransferred_ = 0, resumePosition_ = 0, resumeEnd_ = 0;
  bool rangeRequested_ = false, rangeRefused_ = false;
  uint8_t percentsDone_ = 0;
  int32_t elapsedTime_ = 0, estimatedTimeLeft_ = 0;
  float transferRate_ = -1;
  std::string rawHeaders_, contentType_, contentLanguage_, contentEncoding_, location_, eTag_;
  TDateTime date_ = 0, lastModified_ = 0, expires_ = 0;
};

}  // namespace kelvora
