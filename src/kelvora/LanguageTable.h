// The texts of the language table by id, read once from the embedded data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kelvora/kvLanguage.h"

namespace kelvora::detail {

// Names used in the data files: "wlAuto" .. "wlSlovak" by ordinal, and the
// slot names "ltWizardCaption" .. "ltConnLost" by slot.
extern const char* const kLanguageNames[kLanguageCount + 1];
extern const char* const kLangSlotNames[kLangSlotCount];

using TTextTable = std::unordered_map<std::uint16_t, std::string>;

// Adds the texts of one data file to Table. A file is either a language
// block, {"language": "wlGerman", "texts": {"ltWizardCaption": "...", ...}},
// or texts by id, {"ids": {"40999": "Kelvora", ...}}. Raises EConvertError
// naming the file on anything else, on unknown names and on an id given twice.
void LoadLanguageData(std::string_view FileName, std::string_view Json, TTextTable& Table);

// The text of an id, or nullptr when the id has none. The first call parses
// the embedded data.
const std::string* FindResourceText(std::uint16_t Id);

}  // namespace kelvora::detail
