// The program the desktop opens a kind of file with, from the platform's
// file associations.
#include "kelvora/kvUtils.h"
#include "platform/MimeApps.h"

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

}  // namespace kelvora
