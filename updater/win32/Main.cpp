// AppUpdate: finishes an upgrade after the application has closed. Started
// by the application as: AppUpdate <application path> +<restart parameters><digit>
// [-- <the application's own arguments>...]
// The command line is taken in UTF-16 and handed on in UTF-8.
#include <cstdlib>
#include <string>
#include <vector>

#include "../Updater.h"
#include "Wide.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kelvora::updater::Utf8(argv[i]));
  auto limit = kelvora::updater::kDefaultWaitLimit;
#ifdef KELVORA_FAULT_HOOKS
  // The tests' copy only: KELVORA_UPDATER_WAIT_MS shortens (or lengthens)
  // the wait for the application to end.
  if (const char* ms = std::getenv("KELVORA_UPDATER_WAIT_MS"); ms != nullptr && *ms != '\0') {
    char* end = nullptr;
    const long long value = std::strtoll(ms, &end, 10);
    if (*end == '\0' && value >= 0) limit = std::chrono::milliseconds(value);
  }
#endif
  // KELVORA_APP_PID names the application to wait for.
  int pid = 0;
  if (const char* p = std::getenv("KELVORA_APP_PID"); p != nullptr) pid = std::atoi(p);
  ::SetEnvironmentVariableW(L"KELVORA_APP_PID", nullptr);  // not passed on to the programs it starts
  return kelvora::updater::RunUpdater(args, limit, pid);
}
