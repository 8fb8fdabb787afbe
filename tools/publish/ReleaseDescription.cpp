#include "ReleaseDescription.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "PublishIo.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseVersion.h"
#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/TrustFormat.h"

namespace publish {

namespace {

using nlohmann::json;

struct Reader {
  const std::string& File;
  [[noreturn]] void Fail(const std::string& Where, const std::string& What) const {
    throw Failure(File + ": " + Where + ": " + What);
  }
  // A string member that becomes one info-file value: no control character
  // (a value ends at the first one), and none of Forbidden.
  std::string Text(const json& Object, const char* Name, const std::string& Where, bool Required,
                   const std::string& Forbidden = "") const {
    const auto it = Object.find(Name);
    if (it == Object.end()) {
      if (Required) Fail(Where, std::string("\"") + Name + "\" is missing");
      return {};
    }
    if (!it->is_string()) Fail(Where + "/" + Name, "not a string");
    const std::string value = it->get<std::string>();
    if (Required && value.empty()) Fail(Where + "/" + Name, "empty");
    for (char c : value) {
      if (static_cast<unsigned char>(c) < 32 && !(Forbidden == "}" && (c == '\n' || c == '\r' || c == '\t')))
        Fail(Where + "/" + Name, "holds a control character");
      if (Forbidden.find(c) != std::string::npos)
        Fail(Where + "/" + Name, std::string("may not hold \"") + c + "\"");
    }
    if (HoldsKey(value)) Fail(Where + "/" + Name, "holds an info-file key, which readers would take for the real one");
    return value;
  }
  // "#url3=" and the like inside a value: the first occurrence of a key in
  // the file wins, so such a value would override the real key after it.
  static bool HoldsKey(const std::string& Value) {
    std::string lower;
    for (char c : Value) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    auto digits = [&](size_t& End) {
      while (End < lower.size() && lower[End] >= '0' && lower[End] <= '9') ++End;
    };
    // The component's own key set, so a key it learns is refused here too.
    for (const char* name : kelvora::kReleaseInfoKeys) {
      const std::string key = std::string("#") + name;
      for (size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
        size_t end = at + key.size();
        digits(end);
        if (end < lower.size() && lower[end] == '.') digits(++end);  // "#patch1.2="
        if (end < lower.size() && lower[end] == '=') return true;
      }
    }
    return false;
  }
  void OnlyMembers(const json& Object, const std::string& Where, std::initializer_list<const char*> Names) const {
    for (const auto& [key, value] : Object.items()) {
      bool known = false;
      for (const char* n : Names) known = known || key == n;
      if (!known) Fail(Where, "unknown member \"" + key + "\"");
    }
  }
};

std::string FolderOf(const std::string& File) {
  const size_t slash = File.rfind('/');
  return slash == std::string::npos ? std::string() : File.substr(0, slash + 1);
}

// A number as the component's rollout text: six decimals at most, so 12.5
// is "12.500000" (read back as 12.5) and 1e-7 does not fit.
std::string RolloutText(double Percent) {
  if (!(Percent >= 0 && Percent <= 100)) return "invalid";
  const double millionths = Percent * 1e6;
  const double whole = std::round(millionths);
  if (std::fabs(millionths - whole) > 1e-6 * std::max(1.0, millionths)) return "invalid";
  return kelvora::FormatRolloutPercent(static_cast<uint32_t>(whole));
}

}  // namespace

TRelease ReadRelease(const std::string& File, const std::string& Json) {
  json doc;
  try {
    doc = json::parse(Json);
  } catch (const json::parse_error& e) {
    // e.byte is the 1-based offset of the fault.
    throw Failure(File + ":" + std::to_string(LineOf(Json, e.byte > 0 ? e.byte - 1 : 0)) + ": " + e.what());
  }
  const Reader r{File};
  if (!doc.is_object()) r.Fail("/", "not a JSON object");
  r.OnlyMembers(doc, "/", {"version", "date", "message", "method", "expires", "rollout", "critical", "minimum",
                          "patch_url", "files"});

  TRelease release;
  std::string& out = release.Head;
  const std::string version = r.Text(doc, "version", "/", false);
  const std::string date = r.Text(doc, "date", "/", false);
  if (version.empty() && date.empty()) r.Fail("/", "give \"version\" or \"date\"");
  if (!version.empty()) {
    if (const std::string problem = kelvora::ReleaseVersionProblem(version); !problem.empty())
      r.Fail("/version", problem);
    out += "#version=" + version + "\n";
  }
  if (!date.empty()) out += "#date=" + date + "\n";
  const std::string expires = r.Text(doc, "expires", "/", false);
  if (!expires.empty()) {
    if (!kelvora::trust::ParseExpires(expires)) r.Fail("/expires", "not YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ");
    out += "#expires=" + expires + "\n";
  }
  const std::string message = r.Text(doc, "message", "/", false, "}");
  if (!message.empty()) out += "#message={" + message + "}\n";
  int method = 0;
  if (doc.contains("method")) {
    const json& m = doc["method"];
    // Compared as read: a number beyond int must not wrap into the range.
    if (!m.is_number_unsigned() || m.get<std::uint64_t>() > 2) r.Fail("/method", "not 0, 1 or 2");
    method = static_cast<int>(m.get<std::uint64_t>());
  }
  out += "#method=" + std::to_string(method) + "\n";
  if (const auto rollout = doc.find("rollout"); rollout != doc.end()) {
    // As a number; written back with at most six decimals, as the component reads it.
    const std::optional<uint32_t> share =
        rollout->is_number() ? kelvora::ParseRolloutPercent(RolloutText(rollout->get<double>())) : std::nullopt;
    if (!share) r.Fail("/rollout", "not a percentage from 0 to 100 (up to six decimals)");
    out += "#rollout=" + kelvora::FormatRolloutPercent(*share) + "\n";
  }
  if (const auto critical = doc.find("critical"); critical != doc.end()) {
    if (!critical->is_boolean()) r.Fail("/critical", "not true or false");
    if (critical->get<bool>()) out += "#critical=yes\n";
  }
  const std::string minimum = r.Text(doc, "minimum", "/", false);
  if (!minimum.empty()) {
    if (const std::string problem = kelvora::ReleaseVersionProblem(minimum); !problem.empty())
      r.Fail("/minimum", problem);
    out += "#minimum=" + minimum + "\n";
  }
  // A patch's address is the last word of its key's value.
  release.PatchUrl = r.Text(doc, "patch_url", "/", false, " ");

  const auto files = doc.find("files");
  if (files == doc.end() || !files->is_array() || files->empty()) r.Fail("/files", "a non-empty array is needed");
  for (size_t i = 0; i < files->size(); ++i) {
    const json& f = (*files)[i];
    const std::string where = "/files/" + std::to_string(i);
    if (!f.is_object()) r.Fail(where, "not an object");
    r.OnlyMembers(f, where, {"path", "url", "target", "previous"});
    TReleaseFile& entry = release.Files.emplace_back();
    // The first "=" of an entry separates the address from the target.
    entry.Url = r.Text(f, "url", where, true, "=");
    entry.Target = r.Text(f, "target", where, false);
    if (method == 2) {
      if (f.contains("path") || f.contains("previous"))
        r.Fail(where, "a redirect's entry is a web page, not a file");
      continue;
    }
    entry.Path = r.Text(f, "path", where, true);
    if (entry.Path[0] != '/') entry.Path = FolderOf(File) + entry.Path;
    if (const auto previous = f.find("previous"); previous != f.end()) {
      if (!previous->is_array()) r.Fail(where + "/previous", "not an array of paths");
      for (size_t k = 0; k < previous->size(); ++k) {
        const std::string at = where + "/previous/" + std::to_string(k);
        if (!(*previous)[k].is_string() || (*previous)[k].get<std::string>().empty()) r.Fail(at, "not a path");
        std::string path = (*previous)[k].get<std::string>();
        entry.Previous.push_back(path[0] == '/' ? path : FolderOf(File) + path);
      }
    }
    entry.Hash = HashFile(entry.Path);
  }
  return release;
}

std::string FormatInfoFile(const TRelease& R) {
  std::string out = R.Head;
  if (R.Sequence != 0) out += "#sequence=" + std::to_string(R.Sequence) + "\n";
  for (size_t i = 0; i < R.Files.size(); ++i) {
    const TReleaseFile& f = R.Files[i];
    const std::string n = std::to_string(i + 1);
    out += "#url" + n + "=" + f.Url + (f.Target.empty() ? "" : "=" + f.Target) + "\n";
    if (f.Hash) out += "#hash" + n + "=" + kelvora::trust::FormatHashValue(*f.Hash) + "\n";
    for (size_t k = 0; k < f.Patches.size(); ++k)
      out += "#patch" + n + "." + std::to_string(k + 1) + "=" + kelvora::delta::FormatPatchValue(f.Patches[k]) + "\n";
  }
  return out;
}

std::string SignInfoText(const std::string& Text, const std::string& PrivateKeyPem) {
  std::string body = Text;
  if (const auto parts = kelvora::trust::SplitSignature(Text)) body.assign(parts->Covered);
  if (!body.empty() && body.back() != '\n') body += '\n';
  std::string signature;
  try {
    signature = kelvora::trust::SignMessage(PrivateKeyPem, body);
  } catch (const std::exception& e) {
    throw Failure(std::string("the private key: ") + e.what());
  }
  return body + std::string(kelvora::trust::kSignatureKey) + kelvora::trust::Base64Encode(signature) + "\n";
}

}  // namespace publish
