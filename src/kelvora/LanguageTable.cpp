#include "kelvora/LanguageTable.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "kelvora/LanguageData.h"
#include "kelvora/Types.h"

namespace kelvora::detail {

const char* const kLanguageNames[kLanguageCount + 1] = {
    "wlAuto",      "wlEnglish",   "wlRussian",   "wlGerman",     "wlFrench",
    "wlSpanish",   "wlPortuguese", "wlPortugueseBrazilian",      "wlItalian",
    "wlDutch",     "wlDanish",    "wlSwedish",   "wlFinnish",    "wlEstonian",
    "wlUkrainian", "wlPolish",    "wlCzech",     "wlHungarian",  "wlRomanian",
    "wlCatalan",   "wlBasque",    "wlAfrikaans", "wlChineseTraditional",
    "wlChineseSimplified",        "wlIndonesian", "wlMalay",     "wlIcelandic",
    "wlTurkish",   "wlNorwegian", "wlSlovak"};

const char* const kLangSlotNames[kLangSlotCount] = {
    "ltWizardCaption",   "ltDownloadingTitle", "ltCompletedTitle", "ltCurrentFile",
    "ltAllFiles",        "ltDownloadingFrom",  "ltFileSize",       "ltTransferRate",
    "ltTimeLeft",        "ltDownloadingCount", "ltCompletedNote",  "ltPasswordCaption",
    "ltUserName",        "ltPassword",         "ltYes",            "ltNo",
    "ltOK",              "ltCancel",           "ltNext",           "ltLater",
    "ltWarning",         "ltError",            "ltPreparing",      "ltAskUpgrade",
    "ltNoUpdate",        "ltNoInfoFile",       "ltHostUnreachable", "ltAbortQuestion",
    "ltLostFile",        "ltPasswordRequest",  "ltConnLost",
    "ltCannotWrite",     "ltUpdaterFailed",    "ltUpgradeBusy",    "ltUpgradeCompleted",
    "ltVerificationFailed", "ltUpgradeFailed", "ltUpgradeMixed", "ltUpgradeSetupRan",
    "ltDiskFull",           "ltNotAllowedToWrite", "ltCannotUpgradeHere", "ltPackageManaged",
    "ltManagedByOrganisation", "ltCriticalUpdate", "ltBelowMinimum"};

namespace {

using nlohmann::json;

[[noreturn]] void Fail(std::string_view FileName, const std::string& What) {
  throw EConvertError("language data " + std::string(FileName) + ": " + What);
}

int IndexOfName(const char* const* Names, int Count, const std::string& Name) {
  for (int i = 0; i < Count; ++i)
    if (Name == Names[i]) return i;
  return -1;
}

void AddText(std::string_view FileName, TTextTable& Table, std::uint16_t Id, const json& Value) {
  if (!Value.is_string()) Fail(FileName, "the text of id " + std::to_string(Id) + " is not a string");
  if (!Table.emplace(Id, Value.get<std::string>()).second)
    Fail(FileName, "id " + std::to_string(Id) + " is given twice");
}

void LoadBlock(std::string_view FileName, const json& Doc, TTextTable& Table) {
  const json& name = Doc.at("language");
  const int language = name.is_string() ? IndexOfName(kLanguageNames, kLanguageCount + 1, name.get<std::string>()) : -1;
  if (language < wlEnglish) Fail(FileName, "unknown language " + name.dump());
  const json& texts = Doc.at("texts");
  if (!texts.is_object()) Fail(FileName, "\"texts\" is not an object");
  for (const auto& [key, value] : texts.items()) {
    const int slot = IndexOfName(kLangSlotNames, kLangSlotCount, key);
    if (slot < 0) Fail(FileName, "unknown slot \"" + key + "\"");
    AddText(FileName, Table, LangTextId(static_cast<TkvKelvoraLanguage>(language), slot), value);
  }
}

void LoadIds(std::string_view FileName, const json& Doc, TTextTable& Table) {
  const json& ids = Doc.at("ids");
  if (!ids.is_object()) Fail(FileName, "\"ids\" is not an object");
  for (const auto& [key, value] : ids.items()) {
    unsigned id = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
    if (ec != std::errc() || end != key.data() + key.size() || id > 0xFFFF)
      Fail(FileName, "\"" + key + "\" is not a string id");
    AddText(FileName, Table, static_cast<std::uint16_t>(id), value);
  }
}

TTextTable LoadEmbeddedData() {
  TTextTable table;
  for (std::size_t i = 0; i < kLanguageDataFileCount; ++i) {
    const TLanguageDataFile& file = kLanguageDataFiles[i];
    LoadLanguageData(file.Name, std::string_view(reinterpret_cast<const char*>(file.Data), file.Size), table);
  }
  return table;
}

}  // namespace

void LoadLanguageData(std::string_view FileName, std::string_view Json, TTextTable& Table) {
  json doc;
  try {
    doc = json::parse(Json.begin(), Json.end());
  } catch (const json::exception& e) {
    Fail(FileName, e.what());
  }
  if (!doc.is_object()) Fail(FileName, "not a JSON object");
  const bool block = doc.contains("language") || doc.contains("texts");
  const bool ids = doc.contains("ids");
  if (block == ids) Fail(FileName, "expected either \"language\" and \"texts\", or \"ids\"");
  if (block && !(doc.contains("language") && doc.contains("texts")))
    Fail(FileName, "a block needs both \"language\" and \"texts\"");
  if (doc.size() != (block ? 2u : 1u)) Fail(FileName, "unexpected members");
  try {
    if (block)
      LoadBlock(FileName, doc, Table);
    else
      LoadIds(FileName, doc, Table);
  } catch (const json::exception& e) {
    Fail(FileName, e.what());
  }
}

const std::string* FindResourceText(std::uint16_t Id) {
  static const TTextTable table = LoadEmbeddedData();
  const auto it = table.find(Id);
  return it == table.end() ? nullptr : &it->second;
}

}  // namespace kelvora::detail
