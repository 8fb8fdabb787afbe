// The programs a test starts are this machine's (python3, nginx, openssl),
// started by the process host; arguments that are paths of the drive that
// maps the root are given to them in their own form.
#include "support/TestProcess.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/TestFiles.h"
#include "support/win32/HostLink.h"

namespace kvtest {

namespace {

nlohmann::json NativeArgv(const std::vector<std::string>& Argv) {
  nlohmann::json a = nlohmann::json::array();
  for (const auto& s : Argv) a.push_back(NativePath(s));
  return a;
}

}  // namespace

TestProcess::TestProcess(const std::vector<std::string>& Argv, const std::string& StderrFile) {
  auto j = AskProcessHost({{"op", "start"}, {"argv", NativeArgv(Argv)}, {"stderr", NativePath(StderrFile)}});
  pid_ = j.at("id").get<int>();
}

TestProcess::~TestProcess() {
  try {
    Stop();
  } catch (const std::exception&) {
    // The host has gone: it stops what it started itself.
  }
}

bool TestProcess::Alive() {
  if (reaped_ || pid_ < 0) return false;
  return AskProcessHost({{"op", "alive"}, {"id", pid_}}).at("alive").get<bool>();
}

bool TestProcess::ReadLine(std::string& Line, int TimeoutMs) {
  if (pid_ < 0) return false;
  auto j = AskProcessHost({{"op", "readline"}, {"id", pid_}, {"timeout_ms", TimeoutMs}});
  if (!j.contains("line")) return false;
  Line = j["line"].get<std::string>();
  return true;
}

void TestProcess::Stop(int GraceMs) {
  if (pid_ < 0 || reaped_) return;
  reaped_ = true;
  AskProcessHost({{"op", "stop"}, {"id", pid_}, {"grace_ms", GraceMs}});
}

int RunCommand(const std::vector<std::string>& Argv, const std::string& LogFile) {
  try {
    return AskProcessHost({{"op", "run"}, {"argv", NativeArgv(Argv)}, {"log", NativePath(LogFile)}})
        .at("status")
        .get<int>();
  } catch (const std::exception&) {
    return -1;
  }
}

bool ProgramAccount(std::string& User, std::string& Group) {
  auto j = AskProcessHost({{"op", "account"}});
  if (!j.at("root").get<bool>()) return false;
  User = j.at("user").get<std::string>();
  Group = j.at("group").get<std::string>();
  return true;
}

}  // namespace kvtest
