// TkvFileStream: the output file of a transfer.
#include <cerrno>

#include "framework/FileDescriptors.h"
#include "kelvora/kvHTTP.h"

namespace kelvora {

namespace {

int OpenOutput(const std::string& FileName, bool CreateNew, bool ClearProtection) {
  TkvFileAttributes before;
  bool restore = false;
  if (ClearProtection && ReadFileAttributes(FileName, before) &&
      (before.Contains(atrHidden) || before.Contains(atrReadOnly))) {
    ApplyFileAttributes(FileName, {atrArchive});
    restore = true;
  }
  const int fd = FileName.empty() ? -1 : sys::OpenFile(FileName, O_RDWR | O_CREAT | (CreateNew ? O_TRUNC : 0));
  if (fd < 0) {
    const int err = errno;
    if (restore) ApplyFileAttributes(FileName, before);
    errno = err;  // the reason, for the caller's report
    throw EFCreateError("Cannot create file " + FileName);
  }
  // The open handle stays valid whatever the attributes become.
  if (restore) ApplyFileAttributes(FileName, before);
  return fd;
}

}  // namespace

TkvFileStream::TkvFileStream(const std::string& FileName, bool CreateNew, bool ClearProtection)
    : THandleStream(OpenOutput(FileName, CreateNew, ClearProtection)), fileName_(FileName) {}

TkvFileStream::~TkvFileStream() {
  if (handle_ >= 0) sys::CloseFile(handle_);
}

}  // namespace kelvora
