#include "platform/Folders.h"

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

#include "platform/win32/WideExact.h"

namespace kelvora::platform {

namespace {

std::string WithoutTrailingSeparators(std::string S) {
  // "C:\" keeps its separator: without it, it names the drive's current folder.
  while (S.size() > 3 && (S.back() == '\\' || S.back() == '/')) S.pop_back();
  return S;
}

// The folder's path as the user's settings name it, whether or not it exists
// at the moment (as the shell-folder values did): a deleted folder is made
// again by whoever stores a file there, rather than the file going elsewhere.
std::string KnownFolderPath(REFKNOWNFOLDERID Id) {
  PWSTR path = nullptr;
  std::string out;
  if (SUCCEEDED(::SHGetKnownFolderPath(Id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path != nullptr)
    out = Utf8(path);
  ::CoTaskMemFree(path);
  return WithoutTrailingSeparators(out);
}

std::string& TempBase() {
  static std::string base;
  return base;
}

struct TLocalFree {
  void operator()(void* P) const { ::LocalFree(P); }
};

// The SID of the user this process runs as (its token's user).
std::unique_ptr<BYTE[]> CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<BYTE[]> info(size > 0 ? new BYTE[size] : nullptr);
  const bool ok = info && ::GetTokenInformation(token, TokenUser, info.get(), size, &size);
  ::CloseHandle(token);
  if (!ok) return nullptr;
  const PSID sid = reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid;
  const DWORD length = ::GetLengthSid(sid);
  std::unique_ptr<BYTE[]> copy(new BYTE[length]);
  if (!::CopySid(length, copy.get(), sid)) return nullptr;
  return copy;
}

bool IsWellKnown(PSID Sid, WELL_KNOWN_SID_TYPE Type) { return ::IsWellKnownSid(Sid, Type) != FALSE; }

// Whom a private folder may let in: the user, the folder's owner (who must
// be one of these), the system and the administrators (who can take any
// folder anyway).
bool IsTrusted(PSID Sid, PSID User) {
  return (User != nullptr && ::EqualSid(Sid, User)) || IsWellKnown(Sid, WinCreatorOwnerRightsSid) ||
         IsWellKnown(Sid, WinLocalSystemSid) || IsWellKnown(Sid, WinBuiltinAdministratorsSid);
}

// Rights that let someone put a file into the folder, replace one, or take
// the folder over.
constexpr ACCESS_MASK kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

}  // namespace

std::string ExecutablePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return Utf8(std::wstring(buf.data(), n));
    if (buf.size() >= 32768) return std::string();  // longer than any path can be
    buf.resize(buf.size() * 2);
  }
}

std::string HomeFolder() { return KnownFolderPath(FOLDERID_Profile); }

std::string KnownFolder(TKnownFolder Folder) {
  switch (Folder) {
    case TKnownFolder::Desktop: return KnownFolderPath(FOLDERID_Desktop);
    case TKnownFolder::Documents: return KnownFolderPath(FOLDERID_Documents);
    case TKnownFolder::Pictures: return KnownFolderPath(FOLDERID_Pictures);
    case TKnownFolder::AppData: return KnownFolderPath(FOLDERID_RoamingAppData);
    case TKnownFolder::Windows: return KnownFolderPath(FOLDERID_Windows);
    case TKnownFolder::System: return KnownFolderPath(FOLDERID_System);
    // The folder macros define these from the Windows folder: the programs
    // folder on its drive, whatever the system's own setting, and three of
    // its subfolders.
    case TKnownFolder::ProgramFiles:
    case TKnownFolder::Help:
    case TKnownFolder::Media:
    case TKnownFolder::Cursors: {
      const std::string windows = KnownFolderPath(FOLDERID_Windows);
      if (windows.size() < 3) return std::string();
      if (Folder == TKnownFolder::ProgramFiles) return windows.substr(0, 3) + "Program Files";
      const char* name = Folder == TKnownFolder::Help ? "HELP" : Folder == TKnownFolder::Media ? "MEDIA" : "CURSORS";
      return windows + (windows.back() == '\\' ? "" : "\\") + name;
    }
  }
  return std::string();
}

bool IsPrivateFolder(const std::string& Path) {
  std::wstring path;
  if (Path.empty() || !WideExact(Path, path)) return false;
  // The folder itself: a junction or link is not followed, and refused.
  HANDLE h = ::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const bool read = ::GetFileInformationByHandle(h, &info) &&
                    ::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, &sd) == ERROR_SUCCESS;
  ::CloseHandle(h);
  std::unique_ptr<void, TLocalFree> sdOwner(sd);
  if (!read || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return false;
  const auto user = CurrentUserSid();
  // The owner may change the access list at will; no list lets everybody in.
  if (owner == nullptr || !IsTrusted(owner, user.get()) || dacl == nullptr) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;  // for what is made inside, not the folder
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;  // a kind this check does not read
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & kWriteRights) != 0 && !IsTrusted(sid, user.get())) return false;
  }
  return true;
}

std::string PrivateTempFolder() {
  wchar_t buf[MAX_PATH + 2] = {0};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
  if (n > 0 && n <= MAX_PATH + 1) {
    const std::string temp = WithoutTrailingSeparators(Utf8(std::wstring(buf, n)));
    if (IsPrivateFolder(temp)) return temp;
  }
  // A temporary folder others can write to (TMP pointing at a shared
  // folder): a folder of our own, readable and writable by the user alone.
  const std::string base = TempBase().empty() ? KnownFolderPath(FOLDERID_LocalAppData) : TempBase();
  const auto user = CurrentUserSid();
  if (base.empty() || !user) return std::string();
  const std::string own = base + "\\Kelvora-temp";
  LPWSTR userText = nullptr;
  if (!::ConvertSidToStringSidW(user.get(), &userText)) return std::string();
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(userText) + L")";
  ::LocalFree(userText);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
    return std::string();
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), sd, FALSE};
  ::CreateDirectoryW(Wide(own).c_str(), &sa);  // an existing folder is judged below like a new one
  ::LocalFree(sd);
  return IsPrivateFolder(own) ? own : std::string();
}

void SetPrivateTempBase(const std::string& Base) { TempBase() = Base; }

}  // namespace kelvora::platform
