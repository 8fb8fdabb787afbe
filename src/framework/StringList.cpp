#include "kelvora/StringList.h"

#include <algorithm>
#include <strings.h>

#include "kelvora/Streams.h"

namespace kelvora {

const std::string& TStringList::Strings(int Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return items_[static_cast<size_t>(Index)];
}

void TStringList::IndexError(int Index) const {
  throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
}

void TStringList::Put(int Index, const std::string& S) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index >= Count()) IndexError(Index);
  Changing();
  items_[static_cast<size_t>(Index)] = S;
  Changed();
}

int TStringList::Add(const std::string& S) {
  int index = Count();
  if (sorted_ && Find(S, index)) {
    switch (duplicates_) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError("String list does not allow duplicates");
      case TDuplicates::dupAccept:
        break;
    }
  }
  InsertItem(index, S);
  return index;
}

void TStringList::Insert(int Index, const std::string& S) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index > Count()) IndexError(Index);
  InsertItem(Index, S);
}

void TStringList::InsertItem(int Index, const std::string& S) {
  Changing();
  items_.insert(items_.begin() + Index, S);
  Changed();
}

void TStringList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  Changing();
  items_.erase(items_.begin() + Index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

void TStringList::AddStrings(const TStringList& Strings) {
  BeginUpdate();
  for (const auto& s : Strings.items_) Add(s);
  EndUpdate();
}

int TStringList::IndexOf(const std::string& S) const {
  if (sorted_) {
    int index = 0;
    return Find(S, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(items_[static_cast<size_t>(i)], S) == 0) return i;
  return -1;
}

bool TStringList::Find(const std::string& S, int& Index) const {
  // Lower bound; with duplicates accepted the first equal line is found.
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(mid)], S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != TDuplicates::dupAccept) lo = mid;
      }
    }
  }
  Index = lo;
  return found;
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  int c = caseSensitive_ ? S1.compare(S2) : strcasecmp(S1.c_str(), S2.c_str());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void TStringList::SetSorted(bool Value) {
  if (sorted_ == Value) return;
  if (Value) Sort();
  sorted_ = Value;
}

void TStringList::Sort() {
  Changing();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const std::string& a, const std::string& b) { return CompareStrings(a, b) < 0; });
  Changed();
}

void TStringList::SetCaseSensitive(bool Value) {
  if (caseSensitive_ == Value) return;
  caseSensitive_ = Value;
  if (sorted_) Sort();
}

std::string TStringList::Text() const {
  std::string out;
  for (const auto& s : items_) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const std::string& Value) {
  BeginUpdate();
  Clear();
  size_t start = 0;
  while (start < Value.size()) {
    size_t end = Value.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(Value.substr(start));
      break;
    }
    Add(Value.substr(start, end - start));
    start = end + 1;
    if (Value[end] == '\r' && start < Value.size() && Value[start] == '\n') ++start;
  }
  EndUpdate();
}

void TStringList::LoadFromStream(TStream& Stream) {
  int64_t size = Stream.Size() - Stream.Position();
  std::string text(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  if (size > 0) Stream.ReadBuffer(text.data(), size);
  SetText(text);
}

void TStringList::SaveToStream(TStream& Stream) const {
  std::string text = Text();
  Stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStringList::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TStringList::SaveToFile(const std::string& FileName) const {
  TFileStream f(FileName, fmCreate);
  SaveToStream(f);
}

void TStringList::BeginUpdate() {
  if (updateCount_ == 0) Changing();
  ++updateCount_;
}

void TStringList::EndUpdate() {
  if (--updateCount_ == 0) Changed();
}

void TStringList::Changing() {
  if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TStringList::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TStringList*>(Source)) {
    if (src == this) return;
    BeginUpdate();
    Clear();
    for (const auto& s : src->items_) Add(s);
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace kelvora
