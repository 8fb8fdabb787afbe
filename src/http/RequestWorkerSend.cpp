// The request worker's send step: a GET, a form POST, or an upload from a
// memory stream in blocks with a progress event per block (or per interval).
#include "http/RequestWorker.h"

#include <algorithm>

namespace kelvora::httpimpl {

namespace {

using namespace net;

const char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

}  // namespace

bool TRequestWorker::Send(int MethodIndex, bool& SkipToRetryDecision) {
  TNetRequest& req = *t_.Request;
  if (MethodIndex == 0) return req.Send("", nullptr, 0);
  if (!s_.UploadFromStream) return req.Send(kFormHeader, s_.PostData.data(), s_.PostData.size());
  return Upload(SkipToRetryDecision);
}

bool TRequestWorker::Upload(bool& SkipToRetryDecision) {
  // The source stays alive in this frame even if the UI releases it.
  std::shared_ptr<TStream> source;
  Guarded([&] { source = t_.Stream; });
  auto* mem = dynamic_cast<TMemoryStream*>(source.get());
  if (mem == nullptr) throw EInvalidOperation("An upload needs a memory stream as its source");
  const int64_t size = mem->Size();
  t_.ContentLength = size;
  TNetRequest& req = *t_.Request;
  if (!req.SendEx(s_.UploadHeaders, size)) return false;
  mem->SetPosition(0);
  t_.BytesTransferred = 0;
  uint32_t lastEvent = TickCount();
  for (;;) {
    Check();
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(block_), size - t_.BytesTransferred);
    if (n <= 0) break;
    size_t written = 0;
    if (!req.Write(mem->Memory() + t_.BytesTransferred, static_cast<size_t>(n), written) || written == 0) break;
    t_.BytesTransferred += static_cast<int64_t>(written);
    // Paced: at most one event per interval, always one for the last block.
    if (s_.ProgressInterval > 0 && t_.BytesTransferred < size && !EventDue(lastEvent)) continue;
    UploadProgress();
    lastEvent = TickCount();
  }
  if (!req.End() && req.LastError() == TNetError::ForceRetry) {
    t_.Retry = true;
    SkipToRetryDecision = true;
  }
  return true;
}

void TRequestWorker::UploadProgress() {
  Sync([this] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    c.ComputeProgress(t_, t_.ContentLength);
    if (c.OnUploadProgress)
      c.OnUploadProgress(&c, t_.ContentLength, t_.BytesTransferred, c.ElapsedTime(), c.EstimatedTimeLeft(),
                         c.PercentsDone(), c.TransferRate());
  });
}

}  // namespace kelvora::httpimpl
