// The undo at the next login on Windows: a copy of the updater in the state
// folder and a RunOnce value of the user that starts it. The system deletes
// a RunOnce value before it runs the command; an undo that stays pending
// adds it again.
#include "../LoginUndo.h"

#include <cerrno>
#include <cstring>

#include "../Transaction.h"
#include "../TransactionFiles.h"
#include "Wide.h"

namespace kelvora::updater {

std::string UndoCopyPath(const std::string& StateFolder) { return StateFolder + "undo-at-login.exe"; }

namespace {

constexpr const wchar_t* kRunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::wstring RunningProgram() {
  std::wstring path(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

bool CopySelf(const std::string& Path) {
  const std::wstring self = RunningProgram();
  if (self.empty()) return false;
  if (SamePath(Utf8(self), Path)) return true;  // started from the copy: it is in place
  const std::wstring temp = Wide(Path + ".uNEW");
  if (!::CopyFileW(self.c_str(), temp.c_str(), FALSE)) return false;
  if (::MoveFileExW(temp.c_str(), Wide(Path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD err = ::GetLastError();
  ::DeleteFileW(temp.c_str());
  ::SetLastError(err);
  return false;
}

}  // namespace

bool AddUndoAtLogin(const std::string& StateFolder, const std::string& ProgramPath, std::string& Reason) {
  const std::string copy = UndoCopyPath(StateFolder);
  if (!CopySelf(copy)) {
    ErrnoFromLastError();
    Reason = "the updater could not be copied to " + copy + ": " + std::strerror(errno);
    return false;
  }
  // Paths hold no quote, so quoting them whole keeps each one argument.
  const std::wstring command =
      L"\"" + Wide(copy) + L"\" " + Wide(kUndoAtLoginOption) + L" \"" + Wide(ProgramPath) + L"\"";
  HKEY key = nullptr;
  LSTATUS rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = ::RegSetValueExW(key, Wide(UndoEntryName(StateFolder)).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS) {
    Reason = "the RunOnce value could not be written: error " + std::to_string(rc);
    RemoveFile(copy);
    return false;
  }
  return true;
}

void RemoveUndoAtLogin(const std::string& StateFolder) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key, Wide(UndoEntryName(StateFolder)).c_str());
    ::RegCloseKey(key);
  }
  // The running copy cannot be deleted: it goes once it has ended, at the
  // next settling of the state folder.
  if (IsRegularFile(UndoCopyPath(StateFolder))) RemoveFile(UndoCopyPath(StateFolder));
}

}  // namespace kelvora::updater
