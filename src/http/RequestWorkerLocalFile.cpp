// The request worker's source for the scheme "file": a local file read
// like a (partial) answer over HTTP.
#include "http/RequestWorker.h"

#include <algorithm>

#include "framework/FileDescriptors.h"
#include "http/Utf8Path.h"

namespace kelvora::httpimpl {

using namespace net;

// A local file: status 404 when it cannot be opened, else 200. The range to
// read is the resume range, or else the Range setting; ContentLength is the
// number of bytes that range holds, as for a partial answer over HTTP.
TRequestWorker::Next TRequestWorker::LocalFile() {
  std::error_code ec;
  const bool folder = std::filesystem::is_directory(Utf8Path(url_.Path), ec);
  const int fd = folder ? -1 : sys::OpenFile(url_.Path, O_RDONLY);
  const int64_t size = fd < 0 ? -1 : sys::SeekFile(fd, 0, SEEK_END);
  if (fd < 0 || size < 0) {
    if (fd >= 0) sys::CloseFile(fd);
    t_.StatusCode = 404;
    t_.ContentLength = 0;
    t_.Success = false;
    return Next::Output;
  }
  Guarded([&] { t_.LocalFile = fd; });
  t_.StatusCode = 200;
  if (t_.ResumePosition != 0 && t_.ResumePosition >= size) {
    if (t_.ResumePosition == size) {
      t_.Success = true;  // already complete, like a 416 whose full size matches
      t_.ContentLength = size;
      return Next::End;
    }
    t_.ResumePosition = 0;  // the partial file is longer than the source
    t_.ResumeEnd = 0;
  }
  const auto range = RangeAsked();
  // Plain variables: clang before 16 rejects a lambda capturing a structured binding.
  const int64_t from = std::min<int64_t>(range.first, size);
  const int64_t to = range.second;
  const int64_t stop = to != 0 ? std::min<int64_t>(to + 1, size) : size;
  localLeft_ = std::max<int64_t>(0, stop - from);
  t_.ContentLength = localLeft_;
  Guarded([&] { sys::SeekFile(t_.LocalFile, from, SEEK_SET); });
  t_.Success = true;  // the size is known, as with a Content-Length
  return Next::Output;
}

}  // namespace kelvora::httpimpl
