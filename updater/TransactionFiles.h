// The file-system steps of the upgrade transaction that differ between
// systems; Transaction.cpp holds the shared logic on top of them.
#pragma once

#include <string>

namespace kelvora::updater {

// The separator this system puts between folder and name.
extern const char kPathSeparator;
bool IsPathSeparator(char C);
// A full path: "/..." here; "X:\..." or "\\server\..." on Windows.
bool IsAbsolutePath(const std::string& Path);
// The part of Path up to and including its last separator ("." when none).
std::string FolderPart(const std::string& Path);
// The part of Path after its last separator (the whole of it when none).
inline std::string NamePart(const std::string& Path) {
  size_t start = Path.size();
  while (start > 0 && !IsPathSeparator(Path[start - 1])) --start;
  return Path.substr(start);
}
// Whether two full paths name the same file by their text: exactly equal
// here; on Windows regardless of case and of which separator is used.
bool SamePath(const std::string& A, const std::string& B);

bool Exists(const std::string& Path);         // anything, links included
bool IsRegularFile(const std::string& Path);  // not following links
bool IsDirectory(const std::string& Path);    // not following links
// Appends Text to Path (created private when missing) and flushes it to
// disk; false (with errno) when any step fails.
bool AppendRecord(const std::string& Path, const std::string& Text);
bool ReadAll(const std::string& Path, std::string& Text);
bool RemoveFile(const std::string& Path);

}  // namespace kelvora::updater
