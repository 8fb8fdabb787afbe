#include "kelvora/PartFile.h"

#include <cerrno>
#include <memory>

#include "framework/FileDescriptors.h"
#include "utils/OpenFileCalls.h"

namespace kelvora::detail {

TPartFile::TPartFile(std::string Path) : path_(std::move(Path)), name_(updater::NamePart(path_)) {}

TPartFile::~TPartFile() { Close(); }

void TPartFile::Close() {
  updater::CloseFile(fd_);
  fd_ = -1;
  updater::CloseFolder(dir_);
  dir_ = updater::kNoFolder;
}

void TPartFile::Refuse(const std::string& Why) {
  refusal_ = path_ + ": " + Why + "; nothing is written through it";
  errno = EPERM;
}

bool TPartFile::OpenFolder() {
  if (dir_ == updater::kNoFolder) dir_ = updater::OpenFolder(updater::FolderPart(path_), false);
  return dir_ != updater::kNoFolder;
}

bool TPartFile::Create(TkvFileAttributes Attrs) {
  Close();
  refusal_.clear();
  if (!OpenFolder()) return false;
  if (!updater::RemoveOwnIn(dir_, name_)) {
    if (errno == EPERM) Refuse("another user's file or link, or a folder, is in the way");
    return false;
  }
  fd_ = updater::CreateNewIn(dir_, name_);
  if (fd_ < 0) {
    // Taken between the removal and the creation: by somebody else.
    if (errno == EEXIST || errno == EPERM || errno == ELOOP) Refuse("somebody else took the name");
    return false;
  }
  ApplyFileAttributesOf(fd_, Attrs);  // a mark only (hidden, temporary): its failure changes nothing
  return true;
}

std::int64_t TPartFile::Continue() {
  Close();
  refusal_.clear();
  if (!OpenFolder()) return -1;
  fd_ = updater::OpenOwnIn(dir_, name_);
  if (fd_ < 0) return -1;  // made anew instead, or refused then
  const std::int64_t size = sys::SeekFile(fd_, 0, SEEK_END);
  sys::SeekFile(fd_, 0, SEEK_SET);
  return size;
}

std::function<int()> TPartFile::Opener() const {
  // A descriptor of its own, so that the transfer's way to the file does
  // not depend on how long this object keeps its own.
  std::shared_ptr<const int> held(new int(fd_ < 0 ? -1 : updater::DuplicateFile(fd_)), [](const int* Fd) {
    updater::CloseFile(*Fd);
    delete Fd;
  });
  return [held]() -> int {
    if (*held < 0) {
      errno = EBADF;
      return -1;
    }
    return updater::DuplicateFile(*held);
  };
}

bool TPartFile::StillNamed() {
  if (fd_ >= 0 && dir_ != updater::kNoFolder && updater::NamesOwnFile(dir_, name_, fd_)) return true;
  Refuse("it was replaced (by a link or another file) while it was written");
  return false;
}

bool TPartFile::CompleteAs(const std::string& Download, TkvFileAttributes Attrs, TDateTime Modified) {
  if (!StillNamed()) return false;
  if (Modified != -1) SetFileTimesOf(fd_, Modified);
  ApplyFileAttributesOf(fd_, Attrs);
  const std::string download = updater::NamePart(Download);
  if (!updater::SyncAndRenameIn(dir_, fd_, name_, download)) {
    const int err = errno;
    Close();
    errno = err;
    return false;
  }
  // The name it now has must hold it too: it is what the updater installs.
  const bool ours = updater::NamesOwnFile(dir_, download, fd_);
  Close();
  if (ours) return true;
  refusal_ = Download + ": it was replaced while it got its name; it is not installed";
  errno = EPERM;
  return false;
}

}  // namespace kelvora::detail
