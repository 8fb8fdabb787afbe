// Opening a web address: the browser the desktop names, else its opener.
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
