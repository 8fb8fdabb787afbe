#include "Command.h"

namespace kelvora::updater {

namespace {

std::string Join(const std::vector<std::string>& Args, size_t From, size_t To) {
  std::string out;
  for (size_t i = From; i < To; ++i) {
    if (i > From) out += ' ';
    out += Args[i];
  }
  return out;
}

}  // namespace

std::vector<std::string> FormatCommand(const TCommand& Command) {
  std::vector<std::string> args;
  if (Command.Recovery) args.emplace_back(kRecoverOption);
  args.push_back(Command.AppPath);
  args.push_back(Command.Restart ? "+" + Command.RestartParam + (Command.SetupMode ? "1" : "0") : "+");
  if (!Command.Arguments.empty()) {
    args.emplace_back(kArgumentsMarker);
    args.insert(args.end(), Command.Arguments.begin(), Command.Arguments.end());
  }
  return args;
}

TCommand ParseCommand(const std::vector<std::string>& Args) {
  if (!Args.empty() && Args.front() == kRecoverOption) {
    TCommand cmd = ParseCommand({Args.begin() + 1, Args.end()});
    cmd.Recovery = true;
    return cmd;
  }
  TCommand cmd;
  size_t plus = 0;
  while (plus < Args.size() && (Args[plus].empty() || Args[plus][0] != '+')) ++plus;
  cmd.AppPath = Join(Args, 0, plus);
  if (plus == Args.size()) return cmd;
  size_t marker = plus + 1;
  while (marker < Args.size() && Args[marker] != kArgumentsMarker) ++marker;
  if (marker < Args.size()) cmd.Arguments.assign(Args.begin() + static_cast<std::ptrdiff_t>(marker) + 1, Args.end());
  // "+", the restart parameter, the digit.
  const std::string tail = marker == plus + 1 ? Args[plus] : Join(Args, plus, marker);
  if (tail.size() >= 2) {
    cmd.Restart = true;
    cmd.RestartParam = tail.substr(1, tail.size() - 2);
    cmd.SetupMode = tail.back() == '1';
  }
  return cmd;
}

std::string FolderOf(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

std::string NameOf(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

}  // namespace kelvora::updater
