// The program registered for a kind of file (the user's own choice first),
// and opening a web address in it or through the shell.
#include <windows.h>
#include <shellapi.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "platform/MimeApps.h"
#include "platform/Process.h"

namespace kelvora {

std::string GetAssociatedProgram(const std::string& Ext) {
  if (Ext.empty() || Ext == ".") return std::string();
  try {
    std::string cmd = platform::AssociatedCommand(Ext);
    std::string params;
    SplitCommandLine(cmd, params);
    return cmd;
  } catch (...) {
    return std::string();  // every error ends the search
  }
}

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
