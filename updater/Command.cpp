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
  // "+", the restart parameters, the digit.
  const std::string tail = Join(Args, plus, marker);
  if (tail.size() >= 2) {
    cmd.RestartParams = tail.substr(1, tail.size() - 2);
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

std::vector<std::string> SplitArguments(const std::string& Text) {
  std::vector<std::string> args;
  std::string cur;
  bool inArg = false, quoted = false;
  for (char c : Text) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArg) args.push_back(std::move(cur));
      cur.clear();
      inArg = false;
    } else {
      cur += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(std::move(cur));
  return args;
}

}  // namespace kelvora::updater
