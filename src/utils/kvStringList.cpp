// TkvStringList.
#include <cerrno>
#include <utility>

#include "framework/FileDescriptors.h"
#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

// Switches both change notifications of a list off and puts them back when
// it goes out of scope, also on error.
class TNotificationsOff {
 public:
  explicit TNotificationsOff(TStringList& L)
      : list_(L), change_(std::exchange(L.OnChange, nullptr)), changing_(std::exchange(L.OnChanging, nullptr)) {}
  ~TNotificationsOff() {
    list_.OnChange = std::move(change_);
    list_.OnChanging = std::move(changing_);
  }
  TNotificationsOff(const TNotificationsOff&) = delete;
  TNotificationsOff& operator=(const TNotificationsOff&) = delete;

 private:
  TStringList& list_;
  TNotifyEvent change_;
  TNotifyEvent changing_;
};

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const int64_t n = sys::WriteFile(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int TkvStringList::Add(const std::string& S) {
  // 1.
  if (maxCount_ <= 0) return -1;
  // 2. The sorted search, whether or not the list is sorted.
  int index = 0;
  if (Find(S, index)) {
    switch (Duplicates()) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError("String list does not allow duplicates");
      case TDuplicates::dupAccept:
        break;
    }
  }
  // 3. Make room by dropping the first line, without notifications.
  while (Count() >= maxCount_) {
    {
      TNotificationsOff off(*this);
      Delete(0);
    }
    if (index != 0) --index;
  }
  // 4.
  if (!Sorted()) index = Count();
  // 5.
  InsertItem(index, S);
  return index;
}

int TkvStringList::SeparatorPos(int Index) const {
  const std::string& line = Strings(Index);
  if (separatorFromEnd_) return LastPosOf(separator_, line);
  return static_cast<int>(utils::Pos(separator_, line));
}

std::string TkvStringList::GetName(int Index) const {
  const int p = SeparatorPos(Index);
  const std::string& line = Strings(Index);
  return p == 0 ? line : line.substr(0, static_cast<size_t>(p - 1));
}

std::string TkvStringList::GetValue(int Index) const {
  const int p = SeparatorPos(Index);
  if (p == 0) return std::string();
  return Strings(Index).substr(static_cast<size_t>(p - 1) + separator_.size());
}

void TkvStringList::SetValue(int Index, const std::string& Value) {
  if (SeparatorPos(Index) == 0) return;
  Put(Index, GetName(Index) + separator_ + Value);
}

void TkvStringList::SaveValuesToFile(const std::string& FileName) const {
  int fd = -1;
  try {
    for (int i = 0; i < Count(); ++i) {
      const std::string value = GetValue(i);
      if (value.empty()) continue;
      // Created just before the first value; tried again before each
      // following value when that failed. Writes without a file do nothing.
      if (fd < 0) fd = sys::OpenFile(FileName, O_WRONLY | O_CREAT | O_TRUNC);
      if (fd >= 0) WriteAll(fd, value + "\r\n");
    }
  } catch (...) {
    if (fd >= 0) sys::CloseFile(fd);
    throw;
  }
  if (fd >= 0) sys::CloseFile(fd);
}

}  // namespace kelvora
