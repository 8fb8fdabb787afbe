// Any text from a server as an info file: the parser, the decision and the
// whole handling must neither crash nor hang, and the parser must read each
// key as the single-key reader does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kelvora/InfoFile.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ScriptedUpgradeUI.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const TReleaseInfo release = ParseReleaseInfo(text);
  // The keys are read from the part a signature line covers.
  const std::string read = text.substr(0, release.Signed ? release.SignedSize : text.size());
  if (release.Problem.empty()) {
    if (release.Version != ReadInfoValue(read, "#version") || release.Date != ReadInfoValue(read, "#date") ||
        release.Message != ReadInfoValue(read, "#message", true) || release.Expires != ReadInfoValue(read, "#expires"))
      std::abort();
    for (const TReleaseFile& file : release.Files)
      if (file.Entry != ReadInfoValue(read, "#url" + file.Suffix) ||
          file.HashText != ReadInfoValue(read, "#hash" + file.Suffix))
        std::abort();
  }
  TkvStringList list;
  FillFileList(release, list);
  for (int i = 0; i < list.Count(); ++i) {
    list.GetName(i);
    list.GetValue(i);
  }
  IsNewerByDate(release, "01/01/2001");
  IsNewerByNumber(release, "1.0");

  // The whole handling, with the upgrade declined so nothing is downloaded.
  static TkvScriptedUpgradeUI ui;
  static TkvKelvora* engine = [] {
    auto* k = new TkvKelvora(nullptr);
    k->SetUI(&ui);
    k->SetShowMessages(0);
    k->OnBeginUpgrade = [](TObject*, const std::string&, TztUpgradeMethod, TkvStringList&, bool& can) { can = false; };
    return k;
  }();
  engine->SetVersionControl(Size % 2 ? byNumber : byDate);
  TMemoryStream stream;
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  stream.SetPosition(0);
  engine->ParseInfoFile(stream);
  ui.Calls.clear();
  return 0;
}
