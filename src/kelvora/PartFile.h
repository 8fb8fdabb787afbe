// A file the run writes beside its target: a part file, or a patch the file
// is built from. Made new through a descriptor of its folder (or, for a part
// an earlier run left, opened as itself) and held open until it is complete,
// so that what the transfer writes, what is checked and what gets the
// download's name is this one file, whatever happens to its name meanwhile
// in a folder that others may write to. A link, somebody else's file or a
// file with a second name is never written through: it is refused, and
// Refusal() says why.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kelvora/kvUtils.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

class TPartFile {
 public:
  explicit TPartFile(std::string Path);
  ~TPartFile();  // closes it; the file stays
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  // A new, empty file at the path. What this user left at the name (an
  // earlier run's part, a link) is removed first; another user's file or
  // link is refused. False with errno, or with Refusal().
  bool Create(TkvFileAttributes Attrs);
  // The part an earlier run left, opened to be continued when it is this
  // user's own file; its size, or -1.
  std::int64_t Continue();
  // New descriptors of the open file, each for its caller to close, from
  // any thread, as long as the function lives; -1 (errno) once it failed.
  std::function<int()> Opener() const;
  int Fd() const { return fd_; }
  // Whether the path still names this file; otherwise Refusal() says why.
  bool StillNamed();
  // Sets Attrs and Modified (-1: kept) through the open file, flushes it and
  // renames it to Download (in the same folder), once its name is checked
  // to hold it still; closes it. False with errno, or with Refusal().
  bool CompleteAs(const std::string& Download, TkvFileAttributes Attrs, TDateTime Modified);
  void Close();

  const std::string& Path() const { return path_; }
  const std::string& Refusal() const { return refusal_; }

 private:
  bool OpenFolder();
  void Refuse(const std::string& Why);

  std::string path_, name_, refusal_;
  updater::TFolder dir_ = updater::kNoFolder;
  int fd_ = -1;
};

}  // namespace kelvora::detail
