// The file-system steps of the upgrade transaction that differ between
// systems; Transaction.cpp holds the shared logic on top of them.
#pragma once

#include <cstdint>
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

// Files made only where and as they were checked. A folder is held open as
// itself (a descriptor; on Windows a handle that keeps it from being renamed
// or removed), and every name below is looked up in that folder, whatever
// its path leads to by then. A file is "this user's own" when it is a
// regular file (no link, junction or device) of this user's with no other
// name, checked on the open descriptor.
using TFolder = std::intptr_t;
inline constexpr TFolder kNoFolder = -1;
// The folder at Path; kNoFolder with errno (ENOTDIR when it is no folder).
// Private: its last step must not be a link and the folder must be this
// user's, writable by nobody else (EPERM otherwise).
TFolder OpenFolder(const std::string& Path, bool Private);
void CloseFolder(TFolder Folder);
// Name created in Folder as a new, empty file of this user's (0600), never
// over anything at the name and never through a link (EEXIST then). A
// descriptor open for reading and writing (a C runtime descriptor on
// Windows, opened so that nobody else can write, rename or delete the file
// while it is open), -1 with errno.
int CreateNewIn(TFolder Folder, const std::string& Name);
// The file at Name in Folder opened for reading and writing, only when it is
// this user's own (EPERM otherwise, ELOOP for a link); -1 with errno.
int OpenOwnIn(TFolder Folder, const std::string& Name);
// Whether Name in Folder is exactly the file open as Fd (not following a
// link) and still this user's own.
bool NamesOwnFile(TFolder Folder, const std::string& Name, int Fd);
// Removes Name from Folder when it is this user's (a file or a link, never
// what it leads to) or nothing (true); a folder or anything of another
// user's stays (false, EPERM).
bool RemoveOwnIn(TFolder Folder, const std::string& Name);
// Flushes the file open as Fd and renames it from From to To in Folder
// (over a file there); false with errno.
bool SyncAndRenameIn(TFolder Folder, int Fd, const std::string& From, const std::string& To);
// A second descriptor of the file open as Fd, for another owner; -1 (errno).
int DuplicateFile(int Fd);
void CloseFile(int Fd);

}  // namespace kelvora::updater
