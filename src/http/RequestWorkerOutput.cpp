// The request worker's output: choosing and opening the transfer stream,
// the read loop with its progress event per block (or per interval), the
// comparison of a resumed file, and the writing of the output file.
#include "http/RequestWorker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/FileDescriptors.h"
#include "kelvora/kvUtils.h"

namespace kelvora::httpimpl {

namespace {

using namespace net;

// A memory output is pre-sized to the announced length only up to this
// bound, so a wrong or hostile Content-Length cannot make us allocate
// gigabytes before any byte arrived; past it the stream grows as data comes.
constexpr int64_t kPresizeLimit = 16 * 1024 * 1024;

// With a positive ProgressInterval the output is written in pieces of at
// least this size (or what is left when an event or the end comes).
constexpr size_t kLargeWrite = 256 * 1024;

// Buffers of an observer pipeline: one being filled, the others observed
// (hashed) meanwhile.
constexpr size_t kObserverBuffers = 4;

// Writes all of Data to Fd: 0, or the errno of the failure (a full disk,
// an I/O error), so that it can be reported as what it is.
int WriteAll(int Fd, const uint8_t* Data, int64_t Count) {
  int64_t done = 0;
  while (done < Count) {
    const int64_t n = sys::WriteFile(Fd, Data + done, static_cast<size_t>(Count - done));
    if (n > 0)
      done += n;
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return n == 0 ? ENOSPC : errno;
  }
  return 0;
}

// The output as a descriptor its caller opened: the file it is, whatever
// its name has become since.
class TGivenFile : public THandleStream {
 public:
  explicit TGivenFile(int Fd) : THandleStream(Fd) {}
  ~TGivenFile() override { sys::CloseFile(handle_); }
};

std::shared_ptr<THandleStream> OpenGiven(const std::function<int()>& Open, bool CreateNew) {
  const int fd = Open();
  if (fd < 0) throw EFCreateError("Cannot create file");
  auto file = std::make_shared<TGivenFile>(fd);
  if (CreateNew) {
    const int err = errno;
    file->SetSize(0);
    file->Seek(0, soBeginning);
    errno = err;
  }
  return file;
}

}  // namespace

TRequestWorker::Next TRequestWorker::AbandonResume() {
  t_.StatusCode = -1;
  t_.ResumePosition = 0;
  Guarded([&] {
    t_.Stream.reset();
    t_.OutputFileOpen = false;
    if (t_.LocalFile >= 0) sys::CloseFile(t_.LocalFile);
    t_.LocalFile = -1;
  });
  DropRequest();
  return Next::Restart;
}

TRequestWorker::Next TRequestWorker::Output() {
  Check();
  const bool ok2xx = t_.StatusCode == 200 || t_.StatusCode == 206;
  bool toMemory = true;
  if (ok2xx && !s_.OutputFileName.empty()) {
    bool abandon = false, created = false;
    int createError = 0;
    Guarded([&] {
      try {
        std::shared_ptr<THandleStream> file =
            s_.OpenOutput ? OpenGiven(s_.OpenOutput, t_.ResumePosition == 0)
                          : std::make_shared<TkvFileStream>(s_.OutputFileName, t_.ResumePosition == 0, true);
        created = true;
        if (t_.ResumePosition != 0) {
          // A partial file shorter than the resume position cannot be
          // continued from there.
          abandon = file->Size() < t_.ResumePosition ||
                    file->Seek(t_.ResumePosition, soBeginning) != t_.ResumePosition;
        }
        if (!abandon) {
          if (!s_.OpenOutput && !(s_.Incomplete == TkvFileAttributes{atrArchive}))
            ApplyFileAttributes(s_.OutputFileName, s_.Incomplete);
          t_.Stream = file;
          t_.StreamIsFile = true;
          t_.OutputFileOpen = true;
        }
      } catch (const Exception&) {
        createError = errno != 0 ? errno : EIO;  // "Cannot create file"
      }
    });
    if (abandon) return AbandonResume();
    if (!created) {
      // Never into memory instead: the caller asked for a file, and an
      // endless body would fill the memory.
      t_.WriteError = createError;
      t_.Success = false;
      return Next::End;
    }
    toMemory = false;
  }
  if (toMemory) {
    auto mem = std::make_shared<TMemoryStream>();
    if (t_.Success && t_.ContentLength > 0) mem->SetCapacity(std::min(t_.ContentLength, kPresizeLimit));
    Guarded([&] {
      t_.Stream = mem;
      t_.StreamIsFile = false;
    });
  }

  bool compareFirst = t_.ResumePosition != 0 && t_.OutputFileOpen;
  t_.BytesTransferred = 0;
  // Paced (a positive ProgressInterval): blocks gather in one large buffer,
  // written when it holds kLargeWrite bytes and before every event.
  const bool paced = s_.ProgressInterval > 0;
  const size_t capacity = paced ? std::max(kLargeWrite, block_) + block_ : block_;
  // Paced to a file of more than one large write, with an observer: the
  // observer runs on a pipeline of its own, whose buffers replace ours.
  std::shared_ptr<std::vector<uint8_t>> buffer;
  uint8_t* buf = nullptr;
  if (paced && t_.StreamIsFile && s_.BodyObserver &&
      (t_.ContentLength == 0 || t_.ContentLength > static_cast<int64_t>(kLargeWrite))) {
    observer_ = std::make_unique<TObserverPipeline>(s_.BodyObserver, capacity, kObserverBuffers);
    buf = observer_->Acquire();
  } else {
    buffer = std::make_shared<std::vector<uint8_t>>(capacity);
    Guarded([&] { t_.Buffer = buffer; });
    buf = buffer->data();
  }
  size_t fill = 0;           // gathered, not written yet
  bool unreported = false;   // received since the last event
  uint32_t lastEvent = TickCount();
  auto flush = [&] {
    if (fill == 0) return true;
    const int64_t at = t_.ResumePosition + t_.BytesTransferred - static_cast<int64_t>(fill);
    const bool ok = WriteOutput(at, buf, static_cast<int64_t>(fill), !observer_);
    if (ok && observer_) {
      observer_->Submit(buf, at, fill);
      buf = observer_->Acquire();
    }
    fill = 0;
    return ok;
  };
  for (;;) {
    Check();
    uint8_t* dst = buf + fill;
    size_t n = 0;
    bool ok = true;
    if (local_) {
      Guarded([&] {
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block_), localLeft_));
        const int64_t got = want == 0 ? 0 : sys::ReadFile(t_.LocalFile, dst, want);
        ok = got >= 0;
        n = ok ? static_cast<size_t>(got) : 0;
        localLeft_ -= static_cast<int64_t>(n);
      });
    } else {
      ok = t_.Request->Read(dst, block_, n);
    }
    if (!ok) {
      Check();  // a read cut short by an abort ends as an abort
      t_.ReadFailed = true;
      break;
    }
    if (n == 0) break;
    t_.BytesTransferred += static_cast<int64_t>(n);
    if (compareFirst) {
      // The partial file must hold what the server sends from the resume
      // position on: the bytes it has there are compared, and only what
      // lies beyond its end is written.
      compareFirst = false;
      bool same = true, wrote = false;
      int64_t have = 0;
      Guarded([&] {
        std::vector<uint8_t> old(n);
        t_.Stream->Seek(t_.ResumePosition, soBeginning);
        have = t_.Stream->Read(old.data(), static_cast<int64_t>(n));
        same = have <= 0 || std::memcmp(old.data(), buf, static_cast<size_t>(have)) == 0;
      });
      if (!same) return AbandonResume();
      have = std::max<int64_t>(have, 0);
      if (have < static_cast<int64_t>(n)) {
        if (!WriteOutput(t_.ResumePosition + have, buf + have, static_cast<int64_t>(n) - have)) break;
        wrote = true;
      }
      if (wrote) ReadProgress();
      continue;
    }
    if (!paced) {
      if (!WriteOutput(t_.ResumePosition + t_.BytesTransferred - static_cast<int64_t>(n), buf,
                       static_cast<int64_t>(n)))
        break;
      ReadProgress();
      continue;
    }
    fill += n;
    unreported = true;
    const bool last = t_.ContentLength != 0 && t_.BytesTransferred >= t_.ContentLength;
    const bool alert = s_.ProgressAlertSize >= 0 && t_.BytesTransferred + t_.ResumePosition > s_.ProgressAlertSize;
    const bool event = last || alert || EventDue(lastEvent);
    if ((event || fill >= kLargeWrite) && !flush()) break;
    if (last && !alert) {
      // The completion step comes next and raises this event first: the
      // transfer saves a hand-off to the UI thread (a wake-up of it, as a
      // rule), which is much of a small file's time.
      t_.FinalProgress = true;
      unreported = false;
      continue;
    }
    if (event) {
      ReadProgress();
      lastEvent = TickCount();
      unreported = false;
    }
  }
  // Paced: what is gathered is written, and the bytes not reported yet get
  // their event (also before a lost connection is reported); a write error
  // is reported as it is, without one.
  if (paced && t_.WriteError == 0 && flush() && unreported) ReadProgress();
  observer_.reset();  // the observer has seen every byte written
  if (buffer) Guarded([&] { t_.Buffer.reset(); });
  t_.Success = t_.StatusCode == 200 || t_.StatusCode == 206;
  // A read that failed is a lost connection even when no length was
  // announced (a cut chunked body); a clean end without a length is not.
  if (t_.Success && (t_.ReadFailed || t_.WriteError != 0)) t_.Success = false;
  if (t_.Success && t_.ContentLength != 0) t_.Success = t_.ContentLength == t_.BytesTransferred;
  if (t_.Success && t_.StreamIsFile && t_.ResumeEnd == 0 && s_.RangeEnd == 0) {
    // Read to the end of the resource: a resumed file that was longer keeps
    // no stale bytes past that end (one written from its start was created
    // empty). Guarded either way: a host that released the output meanwhile
    // ends the transfer.
    const int64_t end = t_.ResumePosition + t_.BytesTransferred;
    Guarded([&] {
      if (t_.ResumePosition != 0 && t_.Stream->Size() > end) t_.Stream->SetSize(end);
    });
  }
  return Next::End;
}

bool TRequestWorker::WriteOutput(int64_t Position, const uint8_t* Data, int64_t Count, bool Observe) {
  bool ok = true;
  Guarded([&] {
    if (!t_.StreamIsFile) {
      t_.Stream->WriteBuffer(Data, Count);
      return;
    }
    // Written directly, so that the reason of a failure (a full disk, an
    // I/O error) survives to be reported as what it is.
    const int error = WriteAll(static_cast<THandleStream*>(t_.Stream.get())->Handle(), Data, Count);
    if (error != 0) {
      t_.WriteError = error;
      ok = false;
      return;
    }
    if (Observe && s_.BodyObserver) s_.BodyObserver(Position, Data, static_cast<size_t>(Count));
  });
  return ok;
}

bool TRequestWorker::EventDue(uint32_t& LastEvent) const {
  return TickCount() - LastEvent >= static_cast<uint32_t>(s_.ProgressInterval);
}

void TRequestWorker::ReadProgress() {
  t_.FinalProgress = false;
  Sync([this] { t_.Owner->RaiseReadProgress(t_); });
}

}  // namespace kelvora::httpimpl
