// The program the desktop opens a kind of file with (XDG), and opening a web
// address in it.
#include "kelvora/kvUtils.h"
#include "platform/MimeApps.h"
#include "platform/Process.h"

namespace kelvora {

std::string GetAssociatedProgram(const std::string& Ext) {
  if (Ext.empty() || Ext == ".") return std::string();
  try {
    const std::string mime = platform::MimeTypeOfExtension(Ext);
    if (mime.empty()) return std::string();
    const std::string entry = platform::DefaultDesktopEntry(mime);
    if (entry.empty()) return std::string();
    std::string cmd = platform::DesktopEntryCommand(entry);
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
      const std::string program = GetAssociatedProgram(".html");
      if (!program.empty() && platform::SpawnDetached({program, url}) > 0) return;
    }
    // The desktop's opener, and Debian's browser choice when there is none.
    if (platform::SpawnDetached({"xdg-open", url}) > 0) return;
    platform::SpawnDetached({"sensible-browser", url});
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
