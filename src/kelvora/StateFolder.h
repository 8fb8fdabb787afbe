// Where the engine keeps what must outlive one run of the program: a hidden
// folder beside the program, named after it, so that every instance of the
// program and the updater program find the same one.
#pragma once

#include <string>

namespace kelvora {

// The state folder of a program at ProgramPath: "<folder>/.<name>.kelvora/".
std::string StateFolderOf(const std::string& ProgramPath);
// The running program's state folder. Neither call creates the folder.
std::string StateFolder();

}  // namespace kelvora
