// The system's side of the folder helpers: how it names the running program,
// its folders and its paths.
#pragma once

#include <string>

namespace kelvora::utils {

// Full file name of the running program; "" when the system cannot name it.
std::string ProgramFileName();
// The process's working folder, "" when unknown.
std::string WorkingFolder();
// The separator this system's folders end with, and whether C is one.
char PathSeparator();
bool IsPathSeparator(char C);
// Whether Path names a place of its own rather than one below the
// program's folder.
bool IsAbsolutePath(const std::string& Path);
// The folder of macro row 1 to 11 other than the temporary folder (row 8),
// with or without its trailing separator; "" when the system has none.
std::string SpecialFolderOfRow(int Index);
// The user's temporary folder as the system names it, "" when unknown.
std::string SystemTempFolder();

}  // namespace kelvora::utils
