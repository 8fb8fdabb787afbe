// Opening a web address in the registered browser, else through the shell.
#include <windows.h>
#include <shellapi.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "platform/Process.h"

namespace kelvora {

void OpenURL(const std::string& URL, bool UseBrowser) {
  const std::string url = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  // An address that begins like an option would be read as one by the
  // program that gets it: it is not opened.
  if (url.empty() || url[0] == '-') return;
  try {
    if (UseBrowser) {
      // The address is one argument of the browser, quoted as its runtime
      // reads it back, whatever quotes or blanks the server put in it.
      const std::string program = GetAssociatedProgram(".html");
      if (!program.empty() && platform::SpawnDetached({program, url}) > 0) return;
    }
    ::ShellExecuteW(::GetDesktopWindow(), L"open", win32::Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
