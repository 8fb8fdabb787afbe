// Any text from a server as an info file: the key reader, the file list, the
// decision and the whole parse must neither crash nor hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kelvora/InfoFile.h"
#include "kelvora/ScriptedUpgradeUI.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  for (const char* key : {"#version", "#date", "#url", "#url0", "#method"}) ReadInfoValue(text, key);
  ReadInfoValue(text, "#message", true);
  TkvStringList list;
  ReadFileList(text, list);
  for (int i = 0; i < list.Count(); ++i) {
    list.GetName(i);
    list.GetValue(i);
  }
  ReadUpgradeMethod(text);
  IsNewerByDate(text, "01/01/2001");
  IsNewerByNumber(text, "1.0");

  // The whole parse, with the upgrade declined so nothing is downloaded.
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
