// The two modal dialogs: the ask-upgrade question and the password request.
#pragma once

#include <string>

namespace kelvora::win32ui {

// True when the user chose Yes (Enter); Later, Esc and the close box say no.
bool AskUpgradeDialog(const std::string& Text);
// On OK (true) Username and Password hold what was entered; Cancel, Esc and
// the close box change neither.
bool AskPasswordDialog(const std::string& Text, std::string& Username, std::string& Password);

}  // namespace kelvora::win32ui
