#include "http/HttpTestUtil.h"

#include <chrono>

#include "kelvora/Application.h"

namespace kvtest {

using namespace kelvora;

namespace {
std::string StreamText(TStream* Data) {
  auto* m = dynamic_cast<TMemoryStream*>(Data);
  return m != nullptr ? m->ToString() : std::string();
}
}  // namespace

void HttpEvents::Attach(TkvCustomHTTP& H) {
  H.OnHeaderInfo = [this](TObject*, int Status, const std::string& Raw, const std::string& Type, const std::string&,
                          const std::string&, int64_t Length, const std::string& Location, TDateTime, TDateTime LastMod,
                          TDateTime, const std::string& ETag, bool& Continue) {
    Names.push_back("HeaderInfo");
    HeaderStatus = Status;
    HeaderLength = Length;
    HeaderContentType = Type;
    HeaderRaw = Raw;
    HeaderETag = ETag;
    HeaderLocation = Location;
    HeaderLastModified = LastMod;
    if (OnHeader) OnHeader(Continue);
  };
  H.OnReadProgress = [this](TObject*, const std::string&, int64_t FileSize, int64_t BytesRead, int32_t Elapsed,
                            int32_t Estimate, uint8_t Percents, float Rate, TStream*) {
    Names.push_back("ReadProgress");
    ++ProgressCount;
    LastFileSize = FileSize;
    LastBytesRead = BytesRead;
    LastPercents = Percents;
    LastElapsed = Elapsed;
    LastEstimate = Estimate;
    LastRate = Rate;
    if (OnProgress) OnProgress();
  };
  H.OnUploadProgress = [this](TObject*, int64_t FileSize, int64_t Sent, int32_t, int32_t, uint8_t Percents, float) {
    Names.push_back("UploadProgress");
    LastFileSize = FileSize;
    LastBytesRead = Sent;
    LastPercents = Percents;
  };
  H.OnHTTPPasswordRequest = [this](TObject*, const std::string& R, bool& TryAgain) {
    Names.push_back("Password");
    Realm = R;
    if (OnPassword) OnPassword(TryAgain);
  };
  H.OnProxyAuthenticationRequest = [this](TObject*, std::string& U, std::string& P, bool& TryAgain) {
    Names.push_back("ProxyLogin");
    if (OnProxy) OnProxy(U, P, TryAgain);
  };
  auto finished = [this](const char* Name) {
    Names.push_back(Name);
    if (OnFinished) OnFinished();
  };
  H.OnDone = [this, finished](TObject*, const std::string& Type, int64_t FileSize, TStream* Data) {
    DoneContentType = Type;
    DoneFileSize = FileSize;
    DoneHadData = Data != nullptr;
    DoneDataPosition = Data != nullptr ? Data->Position() : -1;
    this->Data = StreamText(Data);
    finished("Done");
  };
  H.OnDoneWithoutData = [finished](TObject*) { finished("DoneWithoutData"); };
  H.OnConnectionLost = [this](TObject*, const std::string&, int64_t FileSize, int64_t BytesRead, TStream* Data) {
    Names.push_back("ConnectionLost");
    LostFileSize = FileSize;
    LostBytesRead = BytesRead;
    this->Data = StreamText(Data);
  };
  H.OnNoConnection = [this](TObject*) { Names.push_back("NoConnection"); };
  H.OnWriteError = [this](TObject*, const std::string&, int32_t Code) {
    Names.push_back("WriteError:" + std::to_string(Code));
  };
  H.OnHTTPError = [this](TObject*, int32_t Status, TStream* Data) {
    Names.push_back("HTTPError");
    ErrorStatus = Status;
    this->Data = StreamText(Data);
  };
  H.OnRequestFailed = [finished](TObject*) { finished("RequestFailed"); };
  H.OnDownloadStopped = [finished](TObject*) { finished("DownloadStopped"); };
  H.OnTransferAborted = [finished](TObject*) { finished("TransferAborted"); };
  H.OnWaitTimeoutExpired = [this](TObject*, bool&) { Names.push_back("WaitTimeout"); };
  H.OnStatusChange = [this](TObject*, int32_t Status, const std::string& Text) {
    std::lock_guard lk(WorkerMutex);
    Statuses.push_back(Status);
    StatusTexts.push_back(Text);
  };
  H.OnRedirect = [this](TObject*, const std::string& Url) {
    std::lock_guard lk(WorkerMutex);
    Redirects.push_back(Url);
  };
  H.OnBeforeSendRequest = [this](TObject*, TkvRequestHandle Request) {
    std::lock_guard lk(WorkerMutex);
    if (Request != nullptr) ++BeforeSend;
  };
}

void HttpEvents::Reset() {
  Names.clear();
  HeaderStatus = 0;
  HeaderLength = -1;
  HeaderContentType.clear();
  HeaderRaw.clear();
  HeaderETag.clear();
  HeaderLocation.clear();
  HeaderLastModified = 0;
  ProgressCount = 0;
  LastFileSize = LastBytesRead = -1;
  LastPercents = 0;
  LastElapsed = LastEstimate = 0;
  LastRate = 0;
  DoneContentType.clear();
  DoneFileSize = -1;
  DoneHadData = false;
  DoneDataPosition = -1;
  Data.clear();
  ErrorStatus = 0;
  LostFileSize = LostBytesRead = -1;
  Realm.clear();
  {
    std::lock_guard lk(WorkerMutex);
    Statuses.clear();
    StatusTexts.clear();
    Redirects.clear();
    BeforeSend = 0;
  }
  OnHeader = nullptr;
  OnProgress = nullptr;
  OnPassword = nullptr;
  OnProxy = nullptr;
  OnFinished = nullptr;
}

std::string HttpEvents::Joined() const {
  std::string s;
  for (const auto& n : Outcome()) s += (s.empty() ? "" : ",") + n;
  return s;
}

std::vector<std::string> HttpEvents::Outcome() const {
  std::vector<std::string> out;
  for (const auto& n : Names)
    if (n != "ReadProgress" && n != "UploadProgress") out.push_back(n);
  return out;
}

bool HttpEvents::Finished() const {
  for (const auto& n : Names)
    if (n == "Done" || n == "DoneWithoutData" || n == "RequestFailed" || n == "DownloadStopped" ||
        n == "TransferAborted")
      return true;
  return false;
}

bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Done() && std::chrono::steady_clock::now() < deadline) {
    LoopBackend().WaitFor(nullptr, 20, TWakeMask::AnyInput);
    Application().ProcessMessages();
  }
  return Done();
}

void PumpFor(int Ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  PumpUntil([&] { return std::chrono::steady_clock::now() >= until; }, Ms + 1000);
}

TkvFileAttributes AttributesOf(const std::string& Path) {
  TkvFileAttributes a;
  ReadFileAttributes(Path, a);
  return a;
}

}  // namespace kvtest
