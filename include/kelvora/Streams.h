// Streams: the abstract stream, a memory stream with direct access to its
// storage, and streams over OS file handles.
#pragma once

#include "kelvora/kelvora_export.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "kelvora/Types.h"

namespace kelvora {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class KELVORA_EXPORT TStream : public TObject {
 public:
  // Read and Write move up to Count bytes and return how many moved.
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual void SetSize(int64_t NewSize) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  virtual int64_t Size();

  // Move exactly Count bytes or raise EReadError / EWriteError.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Copies Count bytes from Source's position; Count 0 copies the whole of
  // Source from its start. Returns the number of bytes copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

class KELVORA_EXPORT TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Sets the size (and reserves that much storage); the position is kept
  // unless it would lie past the new end. New bytes are not initialised.
  void SetSize(int64_t NewSize) override;
  int64_t Size() override { return size_; }

  // Reserves storage without changing the size.
  void SetCapacity(int64_t NewCapacity);
  int64_t Capacity() const { return capacity_; }
  // Direct access to the storage (Size() bytes are valid).
  uint8_t* Memory() { return data_; }
  const uint8_t* Memory() const { return data_; }
  std::string ToString() const { return std::string(reinterpret_cast<const char*>(data_), static_cast<size_t>(size_)); }

  void Clear();
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToStream(TStream& Stream) const;
  void SaveToFile(const std::string& FileName) const;

 private:
  void Grow(int64_t MinCapacity);

  uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
  int64_t position_ = 0;
};

// A stream over an OS file descriptor that it does not own.
class KELVORA_EXPORT THandleStream : public TStream {
 public:
  explicit THandleStream(int AHandle) : handle_(AHandle) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int Handle() const { return handle_; }

 protected:
  int handle_;
};

// Open modes; the share flags of other systems have no meaning here and are
// accepted and ignored.
enum : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A stream over a file it opens and closes itself.
class KELVORA_EXPORT TFileStream : public THandleStream {
 public:
  // Raises EFCreateError / EFOpenError with the file name and the OS reason.
  TFileStream(const std::string& FileName, uint32_t Mode, uint32_t Rights = 0666);
  ~TFileStream() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

}  // namespace kelvora
