#include "kelvora/Streams.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/FileDescriptors.h"

namespace kelvora {

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  while (Count > 0) {
    int64_t n = Read(p, Count);
    if (n <= 0) throw EReadError("Stream read error");
    p += n;
    Count -= n;
  }
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  while (Count > 0) {
    int64_t n = Write(p, Count);
    if (n <= 0) throw EWriteError("Stream write error");
    p += n;
    Count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  const int64_t total = Count;
  uint8_t buffer[64 * 1024];
  while (Count > 0) {
    int64_t n = Count < static_cast<int64_t>(sizeof buffer) ? Count : static_cast<int64_t>(sizeof buffer);
    Source.ReadBuffer(buffer, n);
    WriteBuffer(buffer, n);
    Count -= n;
  }
  return total;
}

// --- TMemoryStream ---

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Grow(int64_t MinCapacity) {
  if (MinCapacity <= capacity_) return;
  // Grow by half again so a stream written block by block costs amortised
  // linear time.
  int64_t cap = capacity_ + capacity_ / 2;
  if (cap < MinCapacity) cap = MinCapacity;
  SetCapacity(cap);
}

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
  if (NewCapacity < size_) NewCapacity = size_;
  if (NewCapacity == capacity_) return;
  if (NewCapacity == 0) {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    return;
  }
  if (NewCapacity < 0 || static_cast<uint64_t>(NewCapacity) > SIZE_MAX) throw EStreamError("Out of memory while expanding memory stream");
  void* p = std::realloc(data_, static_cast<size_t>(NewCapacity));
  if (p == nullptr) throw EStreamError("Out of memory while expanding memory stream");
  data_ = static_cast<uint8_t*>(p);
  capacity_ = NewCapacity;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || position_ >= size_) return 0;
  int64_t n = size_ - position_ < Count ? size_ - position_ : Count;
  std::memcpy(Buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t end = position_ + Count;
  if (end > capacity_) Grow(end);
  std::memcpy(data_ + position_, Buffer, static_cast<size_t>(Count));
  position_ = end;
  if (end > size_) size_ = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning: position_ = Offset; break;
    case soCurrent: position_ += Offset; break;
    case soEnd: position_ = size_ + Offset; break;
  }
  if (position_ < 0) position_ = 0;
  return position_;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  if (NewSize > capacity_) SetCapacity(NewSize);
  size_ = NewSize;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  int64_t n = Stream.Size();
  SetSize(n);
  if (n > 0) Stream.ReadBuffer(data_, n);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& Stream) const {
  if (size_ > 0) Stream.WriteBuffer(data_, size_);
}

void TMemoryStream::SaveToFile(const std::string& FileName) const {
  TFileStream f(FileName, fmCreate);
  SaveToStream(f);
}

// --- THandleStream ---

int64_t THandleStream::Read(void* Buffer, int64_t Count) {
  const int64_t n = sys::ReadFile(handle_, Buffer, static_cast<size_t>(Count));
  return n < 0 ? 0 : n;
}

int64_t THandleStream::Write(const void* Buffer, int64_t Count) {
  const int64_t n = sys::WriteFile(handle_, Buffer, static_cast<size_t>(Count));
  return n < 0 ? 0 : n;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == soBeginning ? SEEK_SET : (Origin == soCurrent ? SEEK_CUR : SEEK_END);
  return sys::SeekFile(handle_, Offset, whence);
}

void THandleStream::SetSize(int64_t NewSize) {
  if (!sys::TruncateFile(handle_, NewSize))
    throw EStreamError(std::string("Cannot set stream size: ") + std::strerror(errno));
  if (Position() > NewSize) Seek(NewSize, soBeginning);
}

// --- TFileStream ---

namespace {
int OpenFile(const std::string& name, uint32_t mode, uint32_t rights) {
  int flags = 0;
  const bool create = (mode & fmCreate) == fmCreate;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  int fd = sys::OpenFile(name, flags, static_cast<int>(rights));
  if (fd < 0) {
    std::string why = std::strerror(errno);
    if (create) throw EFCreateError("Cannot create file \"" + name + "\". " + why);
    throw EFOpenError("Cannot open file \"" + name + "\". " + why);
  }
  return fd;
}
}  // namespace

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode, uint32_t Rights)
    : THandleStream(OpenFile(FileName, Mode, Rights)), fileName_(FileName) {}

TFileStream::~TFileStream() {
  if (handle_ >= 0) sys::CloseFile(handle_);
}

}  // namespace kelvora
