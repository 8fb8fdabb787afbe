// The wide command line, split as the system's own programs split it.
#include "framework/ProgramArguments.h"

#include <windows.h>
#include <shellapi.h>

#include "framework/win32/Wide.h"

namespace kelvora::sys {

std::vector<std::string> ProgramArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(win32::Utf8(argv[i]));
  ::LocalFree(argv);
  return arguments;
}

}  // namespace kelvora::sys
