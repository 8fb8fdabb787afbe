// Where the updater program is written, how, and how it is started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::detail {

// The name older builds gave every program's updater.
inline constexpr const char* kSharedUpdaterFileName = "AppUpdate.exe";

// The updater's file name for the program at ProgramPath:
// "AppUpdate-<12 hex digits>.exe", the digits from the SHA-256 of the
// program's full path (on Windows regardless of case and of the separator
// used). Each program has its own, so one program's updater, waiting for
// its confirmation or for another instance, never keeps another program of
// the same user from writing its own.
std::string UpdaterFileName(const std::string& ProgramPath);
// ProgramPath as the file system tells paths apart (linux/, win32/).
std::string PathIdentity(const std::string& ProgramPath);

// True when Folder is private to this user (on Linux a folder of its own,
// mode 0700; on Windows a real folder, not a link, that only the user, the
// system and the administrators may write to), on a file system that lets programs run and with room for Size
// bytes.
bool CanRunProgramsIn(const std::string& Folder, std::size_t Size);

// The folder (ending in "/") the updater is written to: the private
// temporary folder, or, where that cannot run programs (a noexec mount) or is
// full, the program's state folder (on the program's own file system). ""
// when neither will do.
std::string ChooseUpdaterFolder(const std::string& StateFolder, std::size_t Size);

// The updater written into Folder: a new file (an older one is removed
// first), never a link or a file somebody else left, in a folder checked
// through the descriptor the file is created in. Folder stays open in Dir so
// that the path can be checked again right before the start (on Windows the
// folder and the file stay open in a way that keeps both from being
// renamed, deleted or written until the start).
struct TUpdaterFile {
  std::intptr_t Dir = -1;   // a descriptor; a handle on Windows
  std::intptr_t Held = -1;  // the written file's handle (Windows)
  std::string Path;         // Folder followed by Name
  std::string Name;
  TUpdaterFile() = default;
  TUpdaterFile(const TUpdaterFile&) = delete;
  TUpdaterFile& operator=(const TUpdaterFile&) = delete;
  ~TUpdaterFile();
};
bool WriteUpdaterFile(const std::string& Folder, const std::string& Name, const std::string& Program,
                      TUpdaterFile& File);

// Starts the written updater with Args (Args[0] is its path), handing over
// LockFd (on Windows the updater takes the lock itself once the application
// lets go of it) and naming this process as the one to wait for. The process
// id, or -1 (errno) when it does not run.
int StartUpdater(TUpdaterFile& File, const std::vector<std::string>& Args, int LockFd);
// Deletes the written updater again (it did not start).
void RemoveUpdaterFile(TUpdaterFile& File);

}  // namespace kelvora::detail
