// The splitting of a registered command line, and the check of an address
// that came from a server before it is opened.
#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

using utils::Pos;

// The runtime's Copy: Count characters from the 1-based Index, clamped.
std::string Copy(const std::string& S, size_t Index, size_t Count = std::string::npos) {
  if (Index < 1) Index = 1;
  if (Index > S.size()) return std::string();
  return S.substr(Index - 1, Count);
}

void DeleteChar(std::string& S, size_t Index) {
  if (Index >= 1 && Index <= S.size()) S.erase(Index - 1, 1);
}

// Index (0-based) of the last folder separator: "\" and ":" as in the
// system, and "/" of this one; npos when none.
size_t LastSeparator(const std::string& S) { return S.find_last_of("\\/:"); }

// The extension: the text from the last dot after the last separator.
std::string FileExt(const std::string& S) {
  const size_t p = S.find_last_of(".\\/:");
  if (p == std::string::npos || S[p] != '.') return std::string();
  return S.substr(p);
}

}  // namespace

void SplitCommandLine(std::string& Cmd, std::string& Params) {
  // 1.
  Cmd = utils::Trim(Cmd);
  if (Cmd.empty()) return;
  // 2.
  const size_t q1 = Pos("\"", Cmd);
  size_t q2 = 0;
  if (q1 > 0) {
    DeleteChar(Cmd, q1);
    q2 = Pos("\"", Cmd);
  }
  if (q1 > 0 && q2 > 0) {
    // 3. Both quotes.
    DeleteChar(Cmd, q2);
    if (q1 == 1) {
      std::string p = utils::Trim(Copy(Cmd, q2 + 1));
      DeleteChar(p, Pos("\"", p));
      DeleteChar(p, Pos("\"", p));
      Params = p;
      Cmd = Copy(Cmd, 1, q2 - 1);
    } else {
      Params = Copy(Cmd, q1);
      Cmd = Copy(Cmd, 1, q1 - 2);
    }
  } else {
    // 4. No quote, or a lone one (already removed).
    Params.clear();
    const std::string unsplit = Cmd;
    static const char* const kDelimiters[] = {" -", " /", " \\", ",", " %"};
    for (const char* delim : kDelimiters) {
      if (!Params.empty()) break;
      const std::string d = delim;
      const size_t p = Pos(d, Cmd);
      std::string candidate = Cmd, rest;
      if (p > 0) {
        candidate = Copy(Cmd, 1, p - 1);
        rest = d == "," ? Copy(Cmd, p + 1) : Copy(Cmd, p);
      }
      // A split that would lose the command's extension is rejected.
      if (!FileExt(Cmd).empty() && FileExt(candidate).empty()) continue;
      Cmd = candidate;
      Params = rest;
    }
    // 5. A DLL started through rundll: program and entry go apart at the
    // first space of the file-name part.
    if (utils::UpperCase(FileExt(Cmd)) == ".DLL" && utils::UpperCase(Cmd).find("RUNDLL") != std::string::npos) {
      const size_t sep = LastSeparator(unsplit);
      const std::string folder = sep == std::string::npos ? std::string() : unsplit.substr(0, sep + 1);
      const std::string name = sep == std::string::npos ? unsplit : unsplit.substr(sep + 1);
      const size_t sp = Pos(" ", name);
      Cmd = folder + (sp > 0 ? Copy(name, 1, sp - 1) : name);
      Params = sp > 0 ? Copy(name, sp + 1) : std::string();
    }
  }
  // 6.
  Cmd = utils::Trim(Cmd);
  Params = utils::Trim(Params);
}

bool OpenWebURL(const std::string& URL, bool UseBrowser) {
  const size_t sep = URL.find("://");
  if (sep != std::string::npos) {
    const std::string scheme = utils::LowerCase(URL.substr(0, sep));
    if (scheme != "http" && scheme != "https") return false;
  }
  OpenURL(URL, UseBrowser);
  return true;
}

}  // namespace kelvora
