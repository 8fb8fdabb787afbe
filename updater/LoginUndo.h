// While a restarted release has yet to confirm its start, the user's session
// holds an entry that runs a copy of the updater at the next login. Should
// the updater be ended during its wait (a logout, a shutdown) and the new
// build crash before its component ever runs, that copy still undoes the
// install: no program stays dead for want of a start that could undo it.
// Linux: an XDG autostart entry; Windows: a RunOnce value of the user.
// The entry and the copy are named after the state folder and removed by
// whoever settles the install (finished, or completely undone).
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::updater {

// The option the entry starts the copy with, before the program's path.
inline constexpr const char* kUndoAtLoginOption = "--undo-at-login";

// Copies the running updater into the state folder and adds the entry.
// False (with a reason) when either could not be made; nothing is left.
bool AddUndoAtLogin(const std::string& StateFolder, const std::string& ProgramPath, std::string& Reason);
// Removes the entry and the copy, when they exist.
void RemoveUndoAtLogin(const std::string& StateFolder);

// Shared by both systems: the entry's name ("kelvora-undo-" and 16 hex
// digits of the state folder's path) and the copy's place in that folder.
std::string UndoEntryName(const std::string& StateFolder);
std::string UndoCopyPath(const std::string& StateFolder);

}  // namespace kelvora::updater
