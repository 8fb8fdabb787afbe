// Opening a web address: in the program registered for ".html", else through
// the desktop's own opener.
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
      // One argument, quoted exactly; a batch file is never started.
      if (!program.empty() && platform::SpawnDetached({program, url}) > 0) return;
    }
    platform::OpenWithDesktop(url);
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
