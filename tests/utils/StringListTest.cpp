// TkvStringList.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "UtilsTestSupport.h"
#include "kelvora/kvUtils.h"

using namespace kelvora;
using kvtest::ReadFile;
using kvtest::TempDir;
using kvtest::WriteFile;

TEST(TkvStringList, Defaults) {
  TkvStringList l;
  EXPECT_EQ(l.Separator(), "=");
  EXPECT_FALSE(l.SeparatorFromEnd());
  EXPECT_EQ(l.MaxCount(), 2147483647);
  EXPECT_EQ(l.Duplicates(), TDuplicates::dupIgnore);
  EXPECT_FALSE(l.Sorted());
}

TEST(TkvStringList, NameAndValueOfAFileEntry) {
  TkvStringList l;
  l.Add("http://example.com/files/a.zip=%temp%a.zip");
  EXPECT_EQ(l.SeparatorPos(0), 31);
  EXPECT_EQ(l.GetName(0), "http://example.com/files/a.zip");
  EXPECT_EQ(l.GetValue(0), "%temp%a.zip");
}

TEST(TkvStringList, LineWithoutSeparatorIsItsOwnNameAndHasNoValue) {
  TkvStringList l;
  l.Add("http://example.com/setup.exe");
  EXPECT_EQ(l.SeparatorPos(0), 0);
  EXPECT_EQ(l.GetName(0), "http://example.com/setup.exe");
  EXPECT_EQ(l.GetValue(0), "");
  l.SetValue(0, "x");
  EXPECT_EQ(l[0], "http://example.com/setup.exe");
}

TEST(TkvStringList, FirstOrLastSeparator) {
  TkvStringList l;
  l.Add("http://h/get.php?id=3=/opt/app/x.bin");
  EXPECT_EQ(l.GetName(0), "http://h/get.php?id");
  EXPECT_EQ(l.GetValue(0), "3=/opt/app/x.bin");
  l.SetSeparatorFromEnd(true);
  EXPECT_EQ(l.SeparatorPos(0), 22);
  EXPECT_EQ(l.GetName(0), "http://h/get.php?id=3");
  EXPECT_EQ(l.GetValue(0), "/opt/app/x.bin");
}

TEST(TkvStringList, SeparatorAtTheEdges) {
  TkvStringList l;
  l.Add("=value");
  l.Add("name=");
  EXPECT_EQ(l.GetName(0), "");
  EXPECT_EQ(l.GetValue(0), "value");
  EXPECT_EQ(l.GetName(1), "name");
  EXPECT_EQ(l.GetValue(1), "");
}

TEST(TkvStringList, LongerSeparator) {
  TkvStringList l;
  l.SetSeparator("->");
  l.Add("a->b->c");
  EXPECT_EQ(l.SeparatorPos(0), 2);
  EXPECT_EQ(l.GetValue(0), "b->c");
  l.SetSeparatorFromEnd(true);
  EXPECT_EQ(l.SeparatorPos(0), 5);
  EXPECT_EQ(l.GetName(0), "a->b");
  EXPECT_EQ(l.GetValue(0), "c");
  l.SetValue(0, "z");
  EXPECT_EQ(l[0], "a->b->z");
}

TEST(TkvStringList, EmptySeparatorNeverSplits) {
  TkvStringList l;
  l.SetSeparator("");
  l.Add("a=b");
  EXPECT_EQ(l.SeparatorPos(0), 0);
  EXPECT_EQ(l.GetName(0), "a=b");
  EXPECT_EQ(l.GetValue(0), "");
}

TEST(TkvStringList, SetValueReplacesTheValue) {
  TkvStringList l;
  l.Add("http://h/a.zip=%temp%a.zip");
  l.SetValue(0, "/home/u/a.zip");
  EXPECT_EQ(l[0], "http://h/a.zip=/home/u/a.zip");
  l.SetValue(0, "");
  EXPECT_EQ(l[0], "http://h/a.zip=");
  l.SetValue(0, "x=y");
  EXPECT_EQ(l.GetValue(0), "x=y");
}

TEST(TkvStringList, IndexOutOfRangeRaisesTheListError) {
  TkvStringList l;
  l.Add("a=b");
  EXPECT_THROW(l.GetName(1), EStringListError);
  EXPECT_THROW(l.GetValue(-1), EStringListError);
  EXPECT_THROW(l.SetValue(5, "x"), EStringListError);
  EXPECT_THROW(l.SeparatorPos(1), EStringListError);
}

TEST(TkvStringListAdd, LinesDifferingOnlyInCaseAreDifferentAddresses) {
  // Paths are case-sensitive: both files are kept; a true duplicate is not.
  TkvStringList l;
  l.Add("http://h/A.zip=%current%A.zip");
  EXPECT_EQ(l.Add("http://h/a.zip=%current%a.zip"), 1);
  EXPECT_EQ(l.Add("http://h/A.zip=%current%A.zip"), 0);
  EXPECT_EQ(l.Count(), 2);
}

TEST(TkvStringListAdd, UnsortedListSearchMayMissAnEqualLine) {
  // The sorted search over unsorted lines: "a" lies where the binary search
  // does not look, so it is added again.
  TkvStringList l;
  l.Add("c");
  l.Add("a");
  EXPECT_EQ(l.Add("a"), 2);
  EXPECT_EQ(l.Count(), 3);
}

TEST(TkvStringListAdd, DuplicatesPolicies) {
  TkvStringList l;
  l.Add("x");
  l.SetDuplicates(TDuplicates::dupError);
  try {
    l.Add("x");
    FAIL() << "no error";
  } catch (const EStringListError& e) {
    EXPECT_STREQ(e.what(), "String list does not allow duplicates");
  }
  l.SetDuplicates(TDuplicates::dupAccept);
  EXPECT_EQ(l.Add("x"), 1);
  EXPECT_EQ(l.Count(), 2);
}

TEST(TkvStringListAdd, SortedListInsertsInOrder) {
  TkvStringList l;
  l.SetSorted(true);
  l.Add("m");
  l.Add("c");
  EXPECT_EQ(l.Add("x"), 2);
  EXPECT_EQ(l[0], "c");
  EXPECT_EQ(l[1], "m");
  EXPECT_EQ(l.Add("m"), 1);  // ignored duplicate
  EXPECT_EQ(l.Count(), 3);
}

TEST(TkvStringListAdd, MaxCountDropsTheFirstLineWithoutNotifying) {
  TkvStringList l;
  l.SetMaxCount(3);
  int changing = 0, change = 0;
  l.OnChanging = [&](TObject*) { ++changing; };
  l.OnChange = [&](TObject*) { ++change; };
  for (const char* s : {"a", "b", "c", "d", "e"}) l.Add(s);
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0], "c");
  EXPECT_EQ(l[2], "e");
  EXPECT_EQ(changing, 5);  // one per insertion, none for the deletions
  EXPECT_EQ(change, 5);
  ASSERT_TRUE(l.OnChange);
  ASSERT_TRUE(l.OnChanging);
  l.Delete(0);
  EXPECT_EQ(change, 6);
}

TEST(TkvStringListAdd, MaxCountOnASortedListMovesTheInsertionIndex) {
  TkvStringList l;
  l.SetSorted(true);
  l.SetMaxCount(3);
  l.Add("b");
  l.Add("c");
  l.Add("d");
  EXPECT_EQ(l.Add("e"), 2);  // found at 3, one line dropped before it
  EXPECT_EQ(l.Text(), "c\r\nd\r\ne\r\n");
  EXPECT_EQ(l.Add("a"), 0);  // at the front: the index stays
  EXPECT_EQ(l.Text(), "a\r\nd\r\ne\r\n");
}

TEST(TkvStringListAdd, MaxCountZeroAddsNothing) {
  TkvStringList l;
  l.SetMaxCount(0);
  l.Add("a");
  EXPECT_EQ(l.Count(), 0);
}

TEST(TkvStringListAdd, MaxCountAlsoAppliesToSetText) {
  TkvStringList l;
  l.SetMaxCount(2);
  l.SetText("1\n2\n3\n4\n");
  EXPECT_EQ(l.Text(), "3\r\n4\r\n");
}

namespace {
class TFailingDeleteList : public TkvStringList {
 public:
  void Delete(int) override { throw EListError("delete failed"); }
};
}  // namespace

TEST(TkvStringListAdd, NotificationsComeBackWhenTheDeletionFails) {
  TFailingDeleteList l;
  l.SetMaxCount(1);
  l.Add("a");
  int change = 0;
  l.OnChange = [&](TObject*) { ++change; };
  l.OnChanging = [&](TObject*) {};
  EXPECT_THROW(l.Add("b"), EListError);
  ASSERT_TRUE(l.OnChange);
  ASSERT_TRUE(l.OnChanging);
  l.TStringList::Add("z");
  EXPECT_EQ(change, 1);
}

TEST(TkvStringListSaveValuesToFile, WritesEveryNonEmptyValueWithCrLf) {
  TempDir dir;
  TkvStringList l;
  l.Add("http://h/a=/x/a");
  l.Add("http://h/b");
  l.Add("http://h/c=");
  l.Add("http://h/d=/x/d=e");
  l.SaveValuesToFile(dir / "queue.txt");
  EXPECT_EQ(ReadFile(dir / "queue.txt"), "/x/a\r\n/x/d=e\r\n");
}

TEST(TkvStringListSaveValuesToFile, ReplacesAnExistingFile) {
  TempDir dir;
  WriteFile(dir / "queue.txt", "old content that is longer\r\n");
  TkvStringList l;
  l.Add("u=v");
  l.SaveValuesToFile(dir / "queue.txt");
  EXPECT_EQ(ReadFile(dir / "queue.txt"), "v\r\n");
}

TEST(TkvStringListSaveValuesToFile, NoValueLeavesAnExistingFileUntouched) {
  TempDir dir;
  const std::string path = dir / "queue.txt";
  WriteFile(path, "keep me\r\n");
  const auto old = std::filesystem::last_write_time(path) - std::chrono::hours(24 * 400);
  std::filesystem::last_write_time(path, old);
  TkvStringList l;
  l.Add("http://h/a");
  l.Add("http://h/b=");
  l.SaveValuesToFile(path);
  EXPECT_EQ(ReadFile(path), "keep me\r\n");
  EXPECT_EQ(std::filesystem::last_write_time(path), old);
}

TEST(TkvStringListSaveValuesToFile, NoValueCreatesNoFile) {
  TempDir dir;
  TkvStringList l;
  l.Add("a");
  l.SaveValuesToFile(dir / "none.txt");
  EXPECT_FALSE(kvtest::Exists(dir / "none.txt"));
}

TEST(TkvStringListSaveValuesToFile, AFileThatCannotBeCreatedIsNotReported) {
  TempDir dir;
  TkvStringList l;
  l.Add("a=b");
  EXPECT_NO_THROW(l.SaveValuesToFile(dir / "missing/folder/queue.txt"));
  EXPECT_NO_THROW(l.SaveValuesToFile(dir.Path()));  // a folder
}
