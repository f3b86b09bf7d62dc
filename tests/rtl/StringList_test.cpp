#include "rtl/StringList.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "rtl/Errors.h"

namespace {

using rtl::TStringList;

struct Tracked {
  explicit Tracked(int* deaths) : deaths(deaths) {}
  ~Tracked() { ++*deaths; }
  int* deaths;
};

TEST(StringList, KeepsOrderAndAttachedObjects) {
  TStringList list;
  int a = 1, b = 2;
  EXPECT_EQ(list.Add("one"), 0);
  EXPECT_EQ(list.AddObject("three", &b), 1);
  list.InsertObject(1, "two", &a);
  list.Insert(3, "four");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Strings(1), "two");
  EXPECT_EQ(list.Objects(1), &a);
  EXPECT_EQ(list.ObjectAs<int>(2), &b);
  EXPECT_EQ(list.Objects(3), nullptr);
  EXPECT_EQ(list.IndexOfObject(&b), 2);
  EXPECT_EQ(list.IndexOfObject(nullptr), 0);

  list.Delete(0);
  EXPECT_EQ(list.Strings(0), "two");
  list.SetStrings(0, "TWO");
  EXPECT_EQ(list.IndexOf("two"), 0);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, IndexOutOfRangeThrows) {
  TStringList list;
  list.Add("x");
  EXPECT_THROW(list.Strings(1), rtl::EListError);
  EXPECT_THROW(list.Objects(-1), rtl::EListError);
  EXPECT_THROW(list.Delete(1), rtl::EListError);
  EXPECT_THROW(list.Insert(2, "y"), rtl::EListError);
  EXPECT_THROW(list.SetStrings(5, "y"), rtl::EListError);
  EXPECT_EQ(list.Count(), 1);
}

TEST(StringList, IndexOfIgnoresLetterCaseAndFindsTheFirst) {
  TStringList list;
  list.Add("Subject");
  list.Add("Body");
  list.Add("body");
  list.Add("ärger");
  list.Add("Straße");
  EXPECT_EQ(list.IndexOf("BODY"), 1);
  EXPECT_EQ(list.IndexOf("subject"), 0);
  EXPECT_EQ(list.IndexOf("ÄRGER"), 3);
  EXPECT_EQ(list.IndexOf("STRASSE"), 4);
  EXPECT_EQ(list.IndexOf("Bod"), -1);
  EXPECT_EQ(list.IndexOf(""), -1);
  list.Add("");
  EXPECT_EQ(list.IndexOf(""), 5);
}

TEST(StringList, InvalidUtf8IsComparedByItsBytes) {
  TStringList list;
  list.Add("\xC4");        // Latin-1 "Ä", not UTF-8
  list.Add("A\xFF" "b");
  EXPECT_EQ(list.IndexOf("\xE4"), -1);          // would fold to U+FFFD like the first
  EXPECT_EQ(list.IndexOf("\xEF\xBF\xBD"), -1);  // U+FFFD itself
  EXPECT_EQ(list.IndexOf("\xC4"), 0);
  EXPECT_EQ(list.IndexOf("a\xFF" "B"), 1);
}

TEST(StringList, OwningListFreesItsObjects) {
  int deaths = 0;
  {
    TStringList list = TStringList::Owning<Tracked>();
    ASSERT_TRUE(list.OwnsObjects());
    for (int i = 0; i < 5; ++i) list.AddObject("x", new Tracked(&deaths));
    list.Add("no object");
    list.Delete(0);
    EXPECT_EQ(deaths, 1);
    list.SetObjects(0, new Tracked(&deaths));  // replaces and frees the old one
    EXPECT_EQ(deaths, 2);
    list.SetObjects(0, list.Objects(0));  // same object: kept
    EXPECT_EQ(deaths, 2);
    list.Delete(list.Count() - 1);
    EXPECT_EQ(deaths, 2);

    TStringList moved = std::move(list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(deaths, 2);
    moved.Delete(0);
    EXPECT_EQ(deaths, 3);
  }
  EXPECT_EQ(deaths, 6);
}

TEST(StringList, NonOwningListLeavesObjectsAlone) {
  int deaths = 0;
  Tracked object(&deaths);
  {
    TStringList list;
    list.AddObject("a", &object);
    list.Delete(0);
    list.AddObject("b", &object);
  }
  EXPECT_EQ(deaths, 0);
}

TEST(StringList, OwnershipCanBeSwitchedOnlyWithADeleter) {
  int deaths = 0;
  TStringList plain;
  EXPECT_THROW(plain.SetOwnsObjects(true), std::logic_error);
  TStringList owning = TStringList::Owning<Tracked>();
  owning.SetOwnsObjects(false);
  Tracked kept(&deaths);
  owning.AddObject("kept", &kept);
  owning.Clear();
  EXPECT_EQ(deaths, 0);
  owning.SetOwnsObjects(true);
  owning.AddObject("freed", new Tracked(&deaths));
  owning.Clear();
  EXPECT_EQ(deaths, 1);
}

TEST(StringList, AssignCopiesIntoNonOwningListsOnly) {
  int deaths = 0;
  TStringList owner = TStringList::Owning<Tracked>();
  auto* object = new Tracked(&deaths);
  owner.AddObject("Name", object);

  TStringList view;
  view.Add("old");
  view.Assign(owner);
  ASSERT_EQ(view.Count(), 1);
  EXPECT_EQ(view.Objects(0), object);
  EXPECT_EQ(view.IndexOf("NAME"), 0);
  view.Clear();
  EXPECT_EQ(deaths, 0);

  TStringList secondOwner = TStringList::Owning<Tracked>();
  EXPECT_THROW(secondOwner.Assign(owner), std::logic_error);
  EXPECT_EQ(secondOwner.Count(), 0);
}

}  // namespace
