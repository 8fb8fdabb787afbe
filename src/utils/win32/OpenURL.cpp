// Opening a web address: in the program registered for ".html", else
// through the shell.
#include <windows.h>
#include <shellapi.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"

namespace kelvora {

using win32::Wide;

void OpenURL(const std::string& URL, bool UseBrowser) {
  std::string url = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  // A quote would end the quoted argument below: it is sent escaped.
  for (size_t at = url.find('"'); at != std::string::npos; at = url.find('"', at)) url.replace(at, 1, "%22");
  // An address that begins like an option would be read as one by the
  // program that gets it: it is not opened.
  if (url.empty() || url[0] == '-') return;
  try {
    if (UseBrowser) {
      const std::string program = GetAssociatedProgram(".html");
      // The address quoted as one argument, so blanks in it stay its own.
      if (!program.empty() &&
          reinterpret_cast<INT_PTR>(::ShellExecuteW(::GetDesktopWindow(), L"open", Wide(program).c_str(),
                                                    Wide("\"" + url + "\"").c_str(), nullptr, SW_SHOWNORMAL)) > 32)
        return;
    }
    ::ShellExecuteW(::GetDesktopWindow(), L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
