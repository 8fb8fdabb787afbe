// Reading the info file: key=value pairs found anywhere in the text. The
// engine reads the whole file once, into a TReleaseInfo (ReleaseInfo.h);
// the forms here that take a text parse it for one answer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kelvora/kvUtils.h"

namespace kelvora {

// The value of Key (matched without regard to A-Z case, the "=" directly
// after it): the text after "Key=" up to the first control character, or,
// with Braced, the text after "Key={" up to the first "}". Empty when absent.
std::string ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced = false);

// The value that starts at Start: up to the first control character, or,
// with Braced, up to the first "}"; the rest of Text when none comes.
std::string ReadValueAt(std::string_view Text, size_t Start, bool Braced);

// Fills List with the file entries: "#url", "#url0", then "#url<N>" numbered
// on from the count already read, until the first missing number. Suffixes,
// when given, receives the key suffix of each item ("", "0", "2", ...).
void ReadFileList(const std::string& Text, TkvStringList& List, std::vector<std::string>* Suffixes = nullptr);

// 0 self-upgrade, 1 external setup, 2 redirect to URL, from "#method".
int ReadUpgradeMethod(const std::string& Text);

}  // namespace kelvora
