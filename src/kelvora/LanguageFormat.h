// The formatter behind FormatText and FormatLangText.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "kelvora/kvLanguage.h"

namespace kelvora::detail {

// FormatText with an explicit decimal separator.
std::string FormatWith(std::string_view Format, std::span<const TkvLangArg> Args,
                       std::string_view DecimalSeparator);

// The decimal separator of the user's locale (LC_ALL, else LC_NUMERIC, else
// LANG); "." when that locale is not installed.
std::string UserDecimalSeparator();

}  // namespace kelvora::detail
