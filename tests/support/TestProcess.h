// A child process started by a test: its own process group, stdout to a pipe
// the test can read lines from, stderr to a file. Stopped (TERM, then KILL
// after a grace period) when the object goes away. A Windows test program
// under Wine starts the programs of the machine it runs on through the
// process host its run was started by (process_host.py).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kvtest {

class TestProcess {
 public:
  // Argv[0] is looked up in PATH. StderrFile may be empty (inherit).
  TestProcess(const std::vector<std::string>& Argv, const std::string& StderrFile);
  ~TestProcess();
  TestProcess(const TestProcess&) = delete;
  TestProcess& operator=(const TestProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Alive();
  // Reads one line of the child's stdout, waiting at most TimeoutMs.
  bool ReadLine(std::string& Line, int TimeoutMs);
  // Stops the child and its process group; returns once it has been reaped.
  void Stop(int GraceMs = 3000);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  bool reaped_ = false;
};

// When the programs a test starts run as the superuser: the account's user
// and group name (a server that drops its rights must be told to keep them
// to read the test's folders).
bool ProgramAccount(std::string& User, std::string& Group);

// Runs a command to its end; returns its exit status (-1 when it could not
// be run). Output goes to LogFile when given.
int RunCommand(const std::vector<std::string>& Argv, const std::string& LogFile = "");

}  // namespace kvtest
