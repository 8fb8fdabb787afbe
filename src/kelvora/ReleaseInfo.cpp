#include "kelvora/ReleaseInfo.h"

#include <cctype>
#include <unordered_set>

#include "kelvora/InfoFile.h"
#include "kelvora/ReleaseVersion.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

// The characters of a key's name (after lower-casing).
bool IsKeyNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

bool AllDecimalDigits(std::string_view S) {
  for (char c : S)
    if (c < '0' || c > '9') return false;
  return true;
}

// One pass over the text: where each key's first value starts, the first
// braced one, and every "#url<digits>=" in text order. A key name is the
// run of name characters after "#"; a name directly followed by "=" is
// exactly an occurrence of the pattern "#name=" that ReadInfoValue seeks.
class TKeyScan {
 public:
  explicit TKeyScan(std::string_view Text) : text_(Text) {
    for (size_t at = Text.find('#'); at != std::string_view::npos; at = Text.find('#', at + 1)) {
      std::string name;
      size_t end = at + 1;
      while (end < Text.size() && IsKeyNameChar(utils::LowerChar(Text[end]))) name += utils::LowerChar(Text[end++]);
      if (end >= Text.size() || Text[end] != '=') continue;
      const size_t value = end + 1;
      keys_.try_emplace(name, value);
      if (value < Text.size() && Text[value] == '{') braced_.try_emplace(name, value + 1);
      if (name.starts_with("url") && AllDecimalDigits(std::string_view(name).substr(3)))
        urls_.push_back({name.substr(3), value});
    }
  }

  // Every value taken counts against a budget: values overlap only when
  // keys share a line, and a text made of nothing but keys on one line
  // would otherwise need memory that grows with the square of its size.
  std::string Value(const std::string& Name) { return Take(keys_, Name, false); }
  std::string Braced(const std::string& Name) { return Take(braced_, Name, true); }
  std::string ValueAt(size_t Start) {
    std::string v = ReadValueAt(text_, Start, false);
    spent_ += v.size();
    return v;
  }
  bool Overspent() const { return spent_ > budget_; }

  struct TUrlKey {
    std::string Number;
    size_t Value;
  };
  const std::vector<TUrlKey>& Urls() const { return urls_; }
  const std::unordered_map<std::string, size_t>& Keys() const { return keys_; }
  std::unordered_map<std::string, size_t> TakeKeys() { return std::move(keys_); }

 private:
  std::string Take(const std::unordered_map<std::string, size_t>& Keys, const std::string& Name, bool Braced) {
    const auto it = Keys.find(Name);
    if (it == Keys.end() || Overspent()) return {};
    std::string v = ReadValueAt(text_, it->second, Braced);
    spent_ += v.size();
    return v;
  }

  std::string_view text_;
  std::unordered_map<std::string, size_t> keys_;
  std::unordered_map<std::string, size_t> braced_;
  std::vector<TUrlKey> urls_;
  size_t spent_ = 0;
  const size_t budget_ = 16 * text_.size() + 65536;
};

void ReadFiles(TKeyScan& Scan, TReleaseInfo& Info) {
  // The list decides what it takes, as the engine's list does when it is
  // filled from these entries; numbering goes on from its count.
  TkvStringList list;
  auto add = [&](std::string Entry, const std::string& Number) {
    const int before = list.Count();
    list.Add(Entry);
    if (list.Count() > before) Info.Files.push_back({Number, std::move(Entry), {}, {}});
  };
  for (const char* number : {"", "0"})
    if (std::string v = Scan.Value(std::string("url") + number); !v.empty()) add(std::move(v), number);
  for (int n = list.Count() + 1; !Scan.Overspent(); ++n) {
    std::string v = Scan.Value("url" + std::to_string(n));
    if (v.empty()) break;
    add(std::move(v), std::to_string(n));
  }
  for (TReleaseFile& file : Info.Files) {
    file.HashText = Scan.Value("hash" + file.Suffix);
    if (!file.HashText.empty()) file.Hash = trust::ParseHashValue(file.HashText);
  }
  // A "#url" key with an entry that is not in the list: its number was not
  // taken and its entry is none of those taken.
  std::unordered_set<std::string> numbers, entries;
  for (const TReleaseFile& file : Info.Files) {
    numbers.insert(file.Suffix);
    entries.insert(file.Entry);
  }
  for (const TKeyScan::TUrlKey& key : Scan.Urls()) {
    if (Scan.Overspent()) break;
    if (numbers.contains(key.Number)) continue;
    const std::string entry = Scan.ValueAt(key.Value);
    if (entry.empty() || entries.contains(entry)) continue;
    Info.UnreadFileKey = key.Number;
    break;
  }
}

void ReadPatches(TKeyScan& Scan, TReleaseInfo& Info) {
  for (const auto& [name, at] : Scan.Keys()) {
    if (!name.starts_with("patch") || !name.ends_with(".1")) continue;
    const std::string suffix = name.substr(5, name.size() - 7);
    if (!AllDecimalDigits(suffix)) continue;
    TPatchOffers offers;
    for (int n = 1; !Scan.Overspent(); ++n) {
      const std::string key = "patch" + suffix + "." + std::to_string(n);
      const std::string value = Scan.Value(key);
      if (value.empty()) break;
      std::optional<delta::TPatchOffer> offer = delta::ParsePatchValue(value);
      if (!offer) {
        offers.Error = "malformed #" + key + ": " + value.substr(0, 100);
        break;
      }
      offers.Offers.push_back(std::move(*offer));
    }
    if (!offers.Offers.empty() || !offers.Error.empty()) Info.Patches.emplace(suffix, std::move(offers));
  }
}

void ReadControl(TKeyScan& Scan, TReleaseInfo& Info) {
  auto refuse = [&](const char* Key, const std::string& Value, const char* Want) {
    if (Info.ControlProblem.empty())
      Info.ControlProblem = std::string("malformed #") + Key + ": \"" + Value.substr(0, 100) + "\" is not " + Want;
  };
  if (Scan.Keys().contains("sequence")) {
    Info.SequenceText = utils::Trim(Scan.Value("sequence"));
    const std::string& v = Info.SequenceText;
    uint64_t n = 0;
    bool ok = !v.empty() && v.size() <= 19 && AllDecimalDigits(v);
    for (char c : v) n = ok ? n * 10 + static_cast<uint64_t>(c - '0') : 0;
    if (ok)
      Info.Sequence = n;
    else
      refuse("sequence", v, "a whole number below 10^19");
  }
  if (Scan.Keys().contains("rollout")) {
    Info.RolloutText = utils::Trim(Scan.Value("rollout"));
    Info.Rollout = ParseRolloutPercent(Info.RolloutText);
    if (!Info.Rollout) refuse("rollout", Info.RolloutText, "a percentage from 0 to 100 (up to six decimals)");
  }
  if (Scan.Keys().contains("critical")) {
    std::string v = utils::Trim(Scan.Value("critical"));
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (v == "yes" || v == "true" || v == "1")
      Info.Critical = true;
    else if (v != "no" && v != "false" && v != "0")
      refuse("critical", v, "yes or no");
  }
  if (Scan.Keys().contains("minimum")) {
    Info.Minimum = utils::Trim(Scan.Value("minimum"));
    if (!ReleaseVersionProblem(Info.Minimum).empty()) refuse("minimum", Info.Minimum, "a version");
  }
}

}  // namespace

std::optional<uint32_t> ParseRolloutPercent(std::string_view Text) {
  const size_t dot = Text.find('.');
  const std::string_view whole = Text.substr(0, dot);
  const std::string_view part = dot == std::string_view::npos ? std::string_view() : Text.substr(dot + 1);
  if (whole.empty() || whole.size() > 3 || !AllDecimalDigits(whole)) return std::nullopt;
  if (dot != std::string_view::npos && (part.empty() || part.size() > 6 || !AllDecimalDigits(part)))
    return std::nullopt;
  uint64_t v = 0;
  for (char c : whole) v = v * 10 + static_cast<uint64_t>(c - '0');
  for (size_t i = 0; i < 6; ++i) v = v * 10 + (i < part.size() ? static_cast<uint64_t>(part[i] - '0') : 0);
  if (v > 100'000'000) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::string FormatRolloutPercent(uint32_t Millionths) {
  std::string s = std::to_string(Millionths / 1'000'000);
  std::string part = std::to_string(1'000'000 + Millionths % 1'000'000).substr(1);
  while (!part.empty() && part.back() == '0') part.pop_back();
  return part.empty() ? s : s + "." + part;
}

TReleaseInfo ParseReleaseInfo(std::string_view Text) {
  TReleaseInfo info;
  if (const std::optional<trust::TSignedText> parts = trust::SplitSignature(Text)) {
    info.Signed = true;
    info.Signature.assign(parts->Signature);
    info.SignedSize = parts->Covered.size();
    Text = parts->Covered;
  }
  TKeyScan scan(Text);
  info.Version = scan.Value("version");
  info.Date = scan.Value("date");
  info.Message = scan.Braced("message");
  const std::string method = scan.Value("method");
  info.Method = method.starts_with('1') ? 1 : method.starts_with('2') ? 2 : 0;
  info.Expires = scan.Value("expires");
  ReadControl(scan, info);
  ReadFiles(scan, info);
  ReadPatches(scan, info);
  info.Keys = scan.TakeKeys();
  if (scan.Overspent()) {
    TReleaseInfo cut;
    cut.Signed = info.Signed;
    cut.Signature = std::move(info.Signature);
    cut.SignedSize = info.SignedSize;
    info = std::move(cut);
    info.Problem = "the info file cannot be read: its keys' values overlap beyond any real info file";
  }
  return info;
}

std::optional<size_t> TReleaseInfo::ValueOffset(std::string_view Key) const {
  std::string name;
  for (char c : Key.substr(Key.starts_with('#') ? 1 : 0)) name += utils::LowerChar(c);
  const auto it = Keys.find(name);
  if (it == Keys.end()) return std::nullopt;
  return it->second;
}

const TPatchOffers* TReleaseInfo::PatchesOf(const std::string& Suffix) const {
  const auto it = Patches.find(Suffix);
  return it == Patches.end() ? nullptr : &it->second;
}

void FillFileList(const TReleaseInfo& Info, TkvStringList& List, std::vector<std::string>* Suffixes) {
  List.Clear();
  if (Suffixes != nullptr) Suffixes->clear();
  for (const TReleaseFile& file : Info.Files) {
    const int before = List.Count();
    List.Add(file.Entry);
    if (Suffixes != nullptr && List.Count() > before) Suffixes->push_back(file.Suffix);
  }
}

std::string UnreadFileKeyReason(const std::string& Number) {
  return "the entry of \"#url" + Number +
         "\" is not read (after \"#url\" and \"#url0\" the numbers go on from the next one, and a gap ends the "
         "list): every listed file must be installed";
}

}  // namespace kelvora
