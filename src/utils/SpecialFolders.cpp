// The folders the folder macros stand for, from the platform's known folders.
#include "platform/Folders.h"
#include "utils/SystemFolders.h"

namespace kelvora {

namespace {

std::string WithSeparator(std::string S) {
  if (!S.empty() && !utils::IsPathSeparator(S.back())) S += utils::PathSeparator();
  return S;
}

}  // namespace

std::string GetWindowsFolder() { return WithSeparator(platform::KnownFolder(platform::TKnownFolder::Windows)); }
std::string GetSystemFolder() { return WithSeparator(platform::KnownFolder(platform::TKnownFolder::System)); }

namespace utils {

std::string SpecialFolderOfRow(int Index) {
  using platform::TKnownFolder;
  static constexpr TKnownFolder kRows[] = {
      TKnownFolder::Desktop, TKnownFolder::Documents, TKnownFolder::Pictures, TKnownFolder::AppData,
      TKnownFolder::ProgramFiles, TKnownFolder::Windows, TKnownFolder::System, TKnownFolder::Windows,  // 8: not here
      TKnownFolder::Help, TKnownFolder::Media, TKnownFolder::Cursors};
  if (Index < 1 || Index > 11 || Index == 8) return std::string();
  return platform::KnownFolder(kRows[Index - 1]);
}

std::string SystemTempFolder() { return platform::PrivateTempFolder(); }

}  // namespace utils
}  // namespace kelvora
