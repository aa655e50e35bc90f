// Lists walked by POSITION, arrays and maps.
#include <gtest/gtest.h>

#include "framework/afx.h"

namespace {

std::vector<CString> Items(const CStringList& list) {
  std::vector<CString> out;
  for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos));
  return out;
}

TEST(Lists, HeadTailInsertRemove) {
  CStringList list;
  EXPECT_TRUE(list.IsEmpty());
  list.AddTail(u"b");
  list.AddHead(CString(u"a"));
  POSITION c = list.AddTail(u"c");
  list.InsertBefore(c, u"b2");
  list.InsertAfter(c, u"d");
  EXPECT_EQ(Items(list), (std::vector<CString>{u"a", u"b", u"b2", u"c", u"d"}));
  EXPECT_EQ(list.GetCount(), 5);
  POSITION found = list.Find(u"b2");
  ASSERT_NE(found, nullptr);
  list.RemoveAt(found);
  EXPECT_EQ(list.Find(u"b2"), nullptr);
  EXPECT_EQ(list.RemoveHead(), u"a");
  EXPECT_EQ(list.RemoveTail(), u"d");
  EXPECT_EQ(Items(list), (std::vector<CString>{u"b", u"c"}));
  EXPECT_EQ(list.GetAt(list.FindIndex(1)), u"c");
  EXPECT_EQ(list.FindIndex(2), nullptr);
  list.RemoveAll();
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
  list.AddTail(u"again");
  EXPECT_EQ(list.GetHead(), u"again");
  EXPECT_EQ(list.GetTail(), u"again");
}

TEST(Arrays, GrowAndShrink) {
  CStringArray a;
  a.Add(u"x");
  a.SetAtGrow(3, u"y");
  EXPECT_EQ(a.GetSize(), 4);
  EXPECT_EQ(a[3], u"y");
  EXPECT_TRUE(a[1].IsEmpty());
  a.InsertAt(0, u"first");
  a.RemoveAt(1, 2);
  EXPECT_EQ(a.GetSize(), 3);
  EXPECT_EQ(a.GetAt(0), u"first");
  EXPECT_EQ(a.GetUpperBound(), 2);
}

TEST(Maps, LookupReplaceAndWalk) {
  CMapStringToString map;
  map.SetAt(u"b", u"2");
  map.SetAt(u"a", u"1");
  map.SetAt(u"b", u"two");
  CString v;
  EXPECT_TRUE(map.Lookup(u"b", v));
  EXPECT_EQ(v, u"two");
  EXPECT_FALSE(map.Lookup(u"B", v));
  EXPECT_EQ(map.GetCount(), 2);
  std::vector<CString> keys;
  for (POSITION pos = map.GetStartPosition(); pos;) {
    CString k, val;
    map.GetNextAssoc(pos, k, val);
    keys.push_back(k);
  }
  EXPECT_EQ(keys, (std::vector<CString>{u"a", u"b"}));
  EXPECT_TRUE(map.RemoveKey(u"a"));
  EXPECT_FALSE(map.RemoveKey(u"a"));
  map.RemoveAll();
  EXPECT_EQ(map.GetStartPosition(), nullptr);
}

}  // namespace
