// The verbs of kelvora-publish. Each takes the arguments after the verb and
// returns the exit code; failures are thrown as Failure.
#pragma once

#include <string>
#include <vector>

namespace publish {

using Args = std::vector<std::string>;

int Keygen(const Args& A);
int Make(const Args& A);
int Sign(const Args& A);
int Verify(const Args& A);
int Rollout(const Args& A);
int Halt(const Args& A);
int Simulate(const Args& A);

// Options of the form "--name value" and plain operands.
struct Options {
  std::vector<std::string> Operands;
  std::vector<std::pair<std::string, std::string>> Named;
  bool Help = false;
  const std::string* Get(const std::string& Name) const;  // the first one given
  std::vector<std::string> GetAll(const std::string& Name) const;
};
// Names that take a value; anything else starting with "-" is a usage error.
Options ParseOptions(const Args& A, std::initializer_list<const char*> Names);

}  // namespace publish
