// Reading the info file: key=value pairs found anywhere in the text.
#pragma once

#include <string>
#include <vector>

#include "kelvora/kvUtils.h"

namespace kelvora {

// The value of Key (matched without regard to A-Z case, the "=" directly
// after it): the text after "Key=" up to the first control character, or,
// with Braced, the text after "Key={" up to the first "}". Empty when absent.
std::string ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced = false);

// Fills List with the file entries: "#url", "#url0", then "#url<N>" numbered
// on from the count already read, until the first missing number. Suffixes,
// when given, receives the key suffix of each item ("", "0", "2", ...).
void ReadFileList(const std::string& Text, TkvStringList& List, std::vector<std::string>* Suffixes = nullptr);

// The file keys ReadFileList leaves out although they carry an entry: "#url1"
// beside "#url" or "#url0" (numbering goes on after them), a number after a
// gap, a number written with a leading zero. Empty when every entry is in
// the list; otherwise the reason for refusing the file, naming the first.
std::string UnreadFileKeys(const std::string& Text, const TkvStringList& List,
                           const std::vector<std::string>& Suffixes);

// 0 self-upgrade, 1 external setup, 2 redirect to URL, from "#method".
int ReadUpgradeMethod(const std::string& Text);

}  // namespace kelvora
