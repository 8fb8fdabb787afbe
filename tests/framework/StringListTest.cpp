#include <gtest/gtest.h>

#include "kelvora/StringList.h"

using namespace kelvora;

TEST(StringList, SortedListKeepsCaseInsensitiveOrderAndFindsEitherCase) {
  TStringList l;
  l.SetSorted(true);
  l.Add("banana");
  l.Add("Apple");
  l.Add("cherry");
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0], "Apple");
  EXPECT_EQ(l[2], "cherry");
  int index = -1;
  EXPECT_TRUE(l.Find("APPLE", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(l.Find("apricot", index));
  EXPECT_EQ(index, 1);  // where it would go
  EXPECT_EQ(l.IndexOf("CHERRY"), 2);
}

TEST(StringList, DuplicatesPolicyOnSortedList) {
  TStringList l;
  l.SetSorted(true);
  l.Add("a");
  EXPECT_EQ(l.Add("A"), 0);  // ignored: index of the existing line
  EXPECT_EQ(l.Count(), 1);

  l.SetDuplicates(TDuplicates::dupAccept);
  l.Add("A");
  EXPECT_EQ(l.Count(), 2);

  l.SetDuplicates(TDuplicates::dupError);
  try {
    l.Add("a");
    FAIL() << "expected an error";
  } catch (const EStringListError& e) {
    EXPECT_STREQ(e.what(), "String list does not allow duplicates");
  }
  EXPECT_EQ(l.Count(), 2);
}

TEST(StringList, UnsortedListAcceptsDuplicatesAndRejectsBadIndexes) {
  TStringList l;
  l.Add("x");
  l.Add("x");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_THROW(l.Strings(2), EStringListError);
  EXPECT_THROW(l.Strings(-1), EStringListError);
  EXPECT_THROW(l.Delete(5), EStringListError);
  EXPECT_THROW(l.Insert(3, "y"), EStringListError);
  try {
    l.Strings(7);
  } catch (const EStringListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (7)");
  }
}

TEST(StringList, NotificationsComeBeforeAndAfterEachChangeAndOnceForABatch) {
  TStringList l;
  std::string log;
  l.OnChanging = [&](TObject*) { log += "<" + std::to_string(l.Count()); };
  l.OnChange = [&](TObject*) { log += ">" + std::to_string(l.Count()); };
  l.Add("a");
  l.Put(0, "b");
  l.Delete(0);
  EXPECT_EQ(log, "<0>1<1>1<1>0");
  log.clear();
  l.SetText("one\r\ntwo\nthree\rfour");
  EXPECT_EQ(log, "<0>4");
  EXPECT_EQ(l[3], "four");
  EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST(StringList, AssignCopiesLinesAndRejectsForeignSources) {
  TStringList a, b;
  a.Add("1");
  a.Add("2");
  b.Add("old");
  b.Assign(&a);
  EXPECT_EQ(b.Text(), "1\r\n2\r\n");
  EXPECT_THROW(b.Assign(nullptr), EConvertError);
}
