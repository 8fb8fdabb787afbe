// The command line this process was started with, as the system keeps it:
// the program first, then each argument, all UTF-8.
#pragma once

#include <string>
#include <vector>

namespace kelvora::sys {

std::vector<std::string> ProgramArguments();

}  // namespace kelvora::sys
