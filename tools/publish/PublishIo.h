// Files and messages of kelvora-publish.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "kelvora/trust/TrustFormat.h"

namespace publish {

// A failure reported as "kelvora-publish: <what>" with exit code Code.
struct Failure : std::runtime_error {
  Failure(const std::string& What, int Code = 1) : std::runtime_error(What), Code(Code) {}
  int Code;
};
inline constexpr int kExitFailed = 1;  // refused, or an input is wrong
inline constexpr int kExitUsage = 2;   // the command line is wrong

std::string ReadFile(const std::string& Path);
// Writes Path through a temporary file beside it and a rename, so a reader
// never sees half a file. Refused when Path is (another name of) any file
// this run has read, except InPlace: the one file a command rewrites.
void WriteFileAtomically(const std::string& Path, const std::string& Data, const std::string& InPlace = "");
// Creates Path with mode 0600; never replaces an existing file.
void WriteNewPrivateFile(const std::string& Path, const std::string& Data);
// 1-based line of byte Offset in Text.
int LineOf(std::string_view Text, size_t Offset);
// Size and SHA-256 of a file; large files show a progress line on stderr.
kelvora::trust::TFileHash HashFile(const std::string& Path);

}  // namespace publish
