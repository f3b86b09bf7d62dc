// Folders: made from views, shared and private, membership and its results, rows sorted by
// the folder's columns, deletion.
#include <cstring>

#include "view_support.h"

namespace quire::engine::test {
namespace {

using Rows = std::vector<std::string>;

class FolderTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    a_ = doc("x", "apple", 1);
    b_ = doc("y", "banana", 2);
    c_ = doc("x", "cherry", 3);
    view_ = view("Fruit", "", {{"Kind", "Category", "", HTCOLSORT_CAT_ASCEND},
                               {"Name", "Subject", "", HTCOLSORT_ASCEND},
                               {"Amount", "Amount", "", 0, HTCOLTOTAL_TOTAL}});
  }
  HTID folder(const char* name, HTUINT flags = 0) {
    HTID id = 0;
    EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, view_, flags, name, &id), HTSUCCESS) << message(HTFAIL_NAME_EXISTS);
    return id;
  }
  HTUINT count(HTID f) {
    HTUINT n = 99;
    EXPECT_EQ(HTFolderGetCount(db_, f, &n), HTSUCCESS);
    return n;
  }
  HTID a_ = 0, b_ = 0, c_ = 0, view_ = 0;
};

TEST_P(FolderTest, FolderHasTheViewsColumnsAndItsOwnMembers) {
  const HTID f = folder("Basket");
  EXPECT_EQ(HTFolderLocateByName(db_, "basket"), f);
  EXPECT_EQ(HTColumnGetCount(db_, f), 3u);
  HTVIEWREC rec{};
  ASSERT_EQ(HTViewFetch(db_, f, &rec), HTSUCCESS);
  EXPECT_EQ(rec.flags & HTVIEWFLAG_FOLDER, HTVIEWFLAG_FOLDER);
  EXPECT_STREQ(rec.name, "Basket");
  EXPECT_EQ(count(f), 0u);
  const HTID two[2] = {c_, a_};
  ASSERT_EQ(HTFolderAddEntries(db_, f, 2, two), HTSUCCESS);
  EXPECT_EQ(count(f), 2u);
  EXPECT_EQ(rows(open(f), HTNAV_NEXT, 0, 3),
            (Rows{"1 C x||4", "1.1 D x|apple|1", "1.2 D x|cherry|3", "2 T ||4"}));
  // A member's later change shows in the folder; a deleted member leaves it.
  updateDocument(db_, c_, [](doc::Note& n) { n.setText("Category", "z"); });
  deleteDocument(db_, a_);
  EXPECT_EQ(count(f), 1u);
  EXPECT_EQ(rows(open(f), HTNAV_NEXT, 0, 3), (Rows{"1 C z||3", "1.1 D z|cherry|3", "2 T ||3"}));
}

TEST_P(FolderTest, MembershipChangesAreIdempotentAndAllOrNothing) {
  const HTID f = folder("Box");
  ASSERT_EQ(HTFolderAddEntries(db_, f, 1, &a_), HTSUCCESS);
  EXPECT_EQ(HTFolderAddEntries(db_, f, 1, &a_), HTSUCCESS);  // already there: no change
  EXPECT_EQ(count(f), 1u);
  EXPECT_EQ(HTFolderRemoveEntries(db_, f, 1, &b_), HTSUCCESS);  // not there: no change
  const HTID mixed[2] = {b_, 424242};
  EXPECT_EQ(HTFolderAddEntries(db_, f, 2, mixed), HTFAIL_NOTE_NOT_FOUND);
  EXPECT_NE(message(HTFAIL_NOTE_NOT_FOUND).find("424242"), std::string::npos);
  EXPECT_EQ(count(f), 1u);  // b was not added either
  EXPECT_EQ(HTFolderAddEntries(db_, f, 1, &view_), HTFAIL_NOTE_NOT_FOUND);  // a design note
  EXPECT_EQ(HTFolderAddEntries(db_, f, 2, nullptr), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTFolderAddEntries(db_, f, 0, nullptr), HTSUCCESS);
  EXPECT_EQ(HTFolderAddEntries(db_, view_, 1, &a_), HTFAIL_NOT_A_VIEW);  // a view has no members
  EXPECT_EQ(HTFolderAddEntries(db_, 777, 1, &a_), HTFAIL_NOT_A_VIEW);
  const HTID all[3] = {a_, b_, c_};
  ASSERT_EQ(HTFolderAddEntries(db_, f, 3, all), HTSUCCESS);
  EXPECT_EQ(count(f), 3u);
  ASSERT_EQ(HTFolderRemoveEntries(db_, f, 1, &b_), HTSUCCESS);
  EXPECT_EQ(count(f), 2u);
  ASSERT_EQ(HTFolderRemoveAllEntries(db_, f), HTSUCCESS);
  EXPECT_EQ(count(f), 0u);
  EXPECT_EQ(HTIndexGetCount(open(f)), 0u);
}

TEST_P(FolderTest, AnOpenFolderIndexKeepsItsRowsUntilRefreshed) {
  const HTID f = folder("Box");
  ASSERT_EQ(HTFolderAddEntries(db_, f, 1, &a_), HTSUCCESS);
  HTINDEXHANDLE index = open(f);
  EXPECT_EQ(HTIndexGetCount(index), 3u);
  ASSERT_EQ(HTFolderAddEntries(db_, f, 1, &b_), HTSUCCESS);
  EXPECT_EQ(HTIndexGetCount(index), 3u);
  ASSERT_EQ(HTIndexRefresh(index), HTSUCCESS);
  EXPECT_EQ(HTIndexGetCount(index), 5u);
}

TEST_P(FolderTest, NamesClashOnlyWithinTheirSpace) {
  folder("Shared");
  HTID id = 0;
  EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, view_, 0, "SHARED", &id), HTFAIL_NAME_EXISTS);
  EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, view_, 0, "fruit", &id), HTFAIL_NAME_EXISTS);  // the view's name
  EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, view_, 0, "", &id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, 4242, 0, "X", &id), HTFAIL_NOT_A_VIEW);
  EXPECT_EQ(id, 0u);
  // A folder made from a folder.
  const HTID shared = HTFolderLocateByName(db_, "Shared");
  ASSERT_EQ(HTFolderCreateFromViewFolder(db_, 0, shared, 0, "Copy of shared", &id), HTSUCCESS);
  EXPECT_EQ(HTColumnGetCount(db_, id), 3u);
  EXPECT_EQ(HTViewLocateByName(db_, "Copy of shared"), id);  // the view look-up finds folders too
}

TEST_P(FolderTest, PrivateFoldersBelongToTheirOwner) {
  if (onPostgres()) GTEST_SKIP() << "a named server closes a new database to users it does not list";
  const HTID shared = folder("Mine");
  const HTID own = folder("Mine", 0x80000000u);
  ASSERT_NE(own, 0u);
  EXPECT_EQ(HTFolderLocateByName(db_, "mine"), own);  // the private one first
  HTVIEWREC rec{};
  ASSERT_EQ(HTViewFetch(db_, own, &rec), HTSUCCESS);
  EXPECT_EQ(rec.flags & (HTVIEWFLAG_FOLDER | HTVIEWFLAG_PRIVATE), HTVIEWFLAG_FOLDER | HTVIEWFLAG_PRIVATE);
  HTID again = 0;
  EXPECT_EQ(HTFolderCreateFromViewFolder(db_, 0, view_, 0x80000000u, "MINE", &again), HTFAIL_NAME_EXISTS);
  ASSERT_EQ(HTFolderAddEntries(db_, own, 1, &a_), HTSUCCESS);

  actAs("Somebody Else");
  HTDBHANDLE other = 0;
  ASSERT_EQ(HTDatabaseOpen(server(), "views.nsf", 0, &other), HTSUCCESS);
  EXPECT_EQ(HTFolderLocateByName(other, "Mine"), shared);
  HTINDEXHANDLE index = 0;
  ASSERT_EQ(HTIndexOpen(other, &index), HTSUCCESS);
  EXPECT_EQ(HTIndexOpenViewFolder(index, 0, own, 0), HTFAIL_NOT_A_VIEW);
  EXPECT_EQ(HTFolderAddEntries(other, own, 1, &b_), HTFAIL_NOT_A_VIEW);
  // Another user's private folder of the same name is no clash.
  HTID theirs = 0;
  ASSERT_EQ(HTFolderCreateFromViewFolder(other, 0, view_, 0x80000000u, "Mine", &theirs), HTSUCCESS);
  EXPECT_EQ(HTFolderLocateByName(other, "Mine"), theirs);
  HTIndexClose(index);
  HTDatabaseClose(other, 0);
}

TEST_P(FolderTest, DeletedFolderLosesMembersAndRows) {
  const HTID f = folder("Gone");
  ASSERT_EQ(HTFolderAddEntries(db_, f, 1, &a_), HTSUCCESS);
  ASSERT_EQ(HTFolderDelete(db_, f), HTSUCCESS);
  EXPECT_EQ(HTFolderLocateByName(db_, "Gone"), 0u);
  HTUINT n = 0;
  EXPECT_EQ(HTFolderGetCount(db_, f, &n), HTFAIL_NOT_A_VIEW);
  open(view_);  // any index open catches up changes written without notification
  auto d = database(db_);
  auto lock = d->lock();
  auto st = d->conn().prepare(
      "SELECT (SELECT COUNT(*) FROM view_entries WHERE view_id = ?1) + (SELECT COUNT(*) FROM folder_members "
      "WHERE folder_id = ?1)");
  st->bind(1, int64_t(f));
  ASSERT_TRUE(st->step());
  EXPECT_EQ(st->int64(0), 0);
}


QUIRE_BOTH_BACKENDS(FolderTest);

}  // namespace
}  // namespace quire::engine::test
