// Opening a web address: in the program registered for ".html", else
// through the shell.
#include <windows.h>
#include <shellapi.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "platform/Process.h"

namespace kelvora {

using win32::Wide;

void OpenURL(const std::string& URL, bool UseBrowser) {
  const std::string url = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  // An address that begins like an option would be read as one by the
  // program that gets it: it is not opened.
  if (url.empty() || url[0] == '-') return;
  try {
    if (UseBrowser) {
      const std::string program = GetAssociatedProgram(".html");
      // Quoted exactly as one argument; a batch file is never started.
      if (!program.empty() && platform::SpawnDetached({program, url}) > 0) return;
    }
    ::ShellExecuteW(::GetDesktopWindow(), L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
