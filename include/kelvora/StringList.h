// The runtime's string list: an ordered list of strings that can keep itself
// sorted (case-insensitive by default), with a duplicates policy and change
// notifications before and after each change.
#pragma once

#include "kelvora/kelvora_export.h"

#include <string>
#include <vector>

#include "kelvora/Persistent.h"

namespace kelvora {

class TStream;

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class KELVORA_EXPORT TStringList : public TPersistent {
 public:
  TStringList() = default;
  ~TStringList() override = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EStringListError "List index out of bounds (N)" outside 0..Count-1.
  const std::string& Strings(int Index) const;
  const std::string& operator[](int Index) const { return Strings(Index); }
  // Replaces line Index; not allowed on a sorted list.
  virtual void Put(int Index, const std::string& S);

  // Appends (or, when sorted, inserts in order) and returns the index. On a
  // sorted list an existing equal line is handled by Duplicates(): ignore
  // returns its index, error raises "String list does not allow duplicates".
  virtual int Add(const std::string& S);
  virtual void Insert(int Index, const std::string& S);
  virtual void Delete(int Index);
  virtual void Clear();
  void AddStrings(const TStringList& Strings);

  // Index of S, -1 when absent; uses Find on a sorted list.
  int IndexOf(const std::string& S) const;
  // Binary search of a sorted list: true when found; Index is the place of S
  // or where it would be inserted.
  virtual bool Find(const std::string& S, int& Index) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool Value);
  void Sort();
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool Value);

  // All lines, each followed by CR LF. SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& Value);
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  // Batches notifications: OnChanging/OnChange fire once around the batch.
  void BeginUpdate();
  void EndUpdate();

  void Assign(const TPersistent* Source) override;

  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changing();
  virtual void Changed();
  virtual int CompareStrings(const std::string& S1, const std::string& S2) const;
  void InsertItem(int Index, const std::string& S);
  [[noreturn]] void IndexError(int Index) const;

 private:
  std::vector<std::string> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  int updateCount_ = 0;
};

using TStrings = TStringList;

}  // namespace kelvora
