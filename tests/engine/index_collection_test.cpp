// Document collections through the C API: formula searches, navigation at the ends and
// backwards, positions, snapshot stability, Readers items, and the calls a collection does
// not support.
#include <cstring>

#include "engine/index/ReadAccess.h"
#include "index_support.h"

namespace quire::engine::test {
namespace {

class CollectionTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    db_ = createAndOpen("orders.nsf", "Orders");
    a_ = addOrder(db_, "Order", "Pencils", 120);
    b_ = addOrder(db_, "Invoice", "Paper", 900);
    c_ = addOrder(db_, "Order", "Desks", 2500);
    d_ = addOrder(db_, "Order", "Chairs", 700);
  }

  HTDBHANDLE db_ = 0;
  HTID a_ = 0, b_ = 0, c_ = 0, d_ = 0;
};

TEST_F(CollectionTest, FormulaSelectsInNoteOrder) {
  HTINDEXHANDLE index = 0;
  ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
  EXPECT_EQ(HTIndexGetCount(index), 0u);  // nothing selected before a search
  HTUINT matched = 0;
  ASSERT_EQ(HTIndexSearch(index, "Form = \"order\" & Amount > 500", 0, &matched), HTSUCCESS);
  EXPECT_EQ(matched, 2u);
  EXPECT_EQ(HTIndexGetCount(index), 2u);
  EXPECT_EQ(walk(index), (std::vector<HTID>{c_, d_}));

  ASSERT_EQ(HTIndexSearch(index, "SELECT @Contains(Subject; \"s\")", 0, &matched), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{a_, c_, d_}));  // case-sensitive @Contains: not "Paper"
  ASSERT_EQ(HTIndexSearch(index, "", 0, &matched), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{a_, b_, c_, d_}));
  ASSERT_EQ(HTIndexSearch(index, "Form = \"Memo\"", 0, &matched), HTSUCCESS);
  EXPECT_EQ(matched, 0u);
  HTID note = 0;
  HTUINT flags = 0;
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 12, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexClose(index), HTSUCCESS);
  EXPECT_EQ(HTIndexClose(index), HTFAIL_INVALID_HANDLE);
}

TEST_F(CollectionTest, FormulaErrorsAreReported) {
  HTINDEXHANDLE index = 0;
  ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
  HTUINT matched = 7;
  EXPECT_EQ(HTIndexSearch(index, "Form = (\"Order\"", 0, &matched), HTFAIL_FORMULA_SYNTAX);
  EXPECT_EQ(matched, 0u);
  EXPECT_NE(message(HTFAIL_FORMULA_SYNTAX).find("position"), std::string::npos) << message(HTFAIL_FORMULA_SYNTAX);
  // Wrong types on every document: the formula, not the data, is at fault.
  EXPECT_EQ(HTIndexSearch(index, "Subject * 2", 0, &matched), HTFAIL_FORMULA_EVAL);
  // Wrong types on some documents only: those are not selected.
  updateDocument(db_, b_, [](doc::Note& n) { n.setText("Amount", "lots"); });
  ASSERT_EQ(HTIndexSearch(index, "Amount > 800", 0, &matched), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{c_}));
  HTIndexClose(index);
}

TEST_F(CollectionTest, NavigationAtTheEndsAndBackward) {
  HTINDEXHANDLE index = search(db_, "");
  HTID note = 0;
  HTUINT flags = 0;
  // The library's walks: END with 14 is the first row, END with 12 the last.
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_END, 14, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, a_);
  EXPECT_EQ(HTIndexGetPosition(index), 1u);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 14, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexGetPosition(index), 1u);  // unchanged at the end
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_END, 12, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, d_);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 12, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexGetPosition(index), 4u);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 12, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, d_);
  EXPECT_EQ(walk(index, HTNAVFLAG_BACKWARD), (std::vector<HTID>{c_, b_, a_}));
  // A probe looks without moving.
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, HTNAVFLAG_PROBE, &note, nullptr), HTSUCCESS);
  EXPECT_EQ(note, b_);
  EXPECT_EQ(HTIndexGetPosition(index), 1u);
  // Collections are flat.
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_CHILD, 0, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_PARENT, 2, &note, &flags), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexNavigate(index, 99, 0, &note, &flags), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, nullptr, &flags), HTFAIL_INVALID_ARGUMENT);
  HTIndexClose(index);
}

TEST_F(CollectionTest, Positions) {
  HTINDEXHANDLE index = search(db_, "");
  HTID note = 0;
  HTUINT flags = 0;
  EXPECT_EQ(HTIndexGetPosition(index), 0u);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTFAIL_NO_POSITION);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);  // first NEXT: entry 1
  EXPECT_EQ(note, a_);
  ASSERT_EQ(HTIndexSetPosition(index, 3), HTSUCCESS);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, c_);
  ASSERT_EQ(HTIndexSetPosition(index, 10), HTSUCCESS);  // clamps to the last row
  EXPECT_EQ(HTIndexGetPosition(index), 4u);
  ASSERT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, a_);

  char text[8];
  ASSERT_EQ(HTIndexGetViewPosition(index, sizeof text, text), HTSUCCESS);
  EXPECT_STREQ(text, "1");
  ASSERT_EQ(HTIndexSetViewPosition(index, "2"), HTSUCCESS);
  EXPECT_EQ(HTIndexGetPosition(index), 2u);
  EXPECT_EQ(HTIndexSetViewPosition(index, "5"), HTFAIL_BAD_POSITION);
  EXPECT_EQ(HTIndexSetViewPosition(index, "1.2"), HTFAIL_BAD_POSITION);
  EXPECT_EQ(HTIndexGetViewPosition(index, 1, text), HTFAIL_BUFFER_TOO_SMALL);
  EXPECT_STREQ(text, "");
  HTIndexClose(index);
}

TEST_F(CollectionTest, SnapshotStaysWhileOthersWrite) {
  HTINDEXHANDLE index = search(db_, "Form = \"Order\"");
  ASSERT_EQ(HTIndexGetCount(index), 3u);
  HTDBHANDLE other = 0;
  ASSERT_EQ(HTDatabaseOpen("", "orders.nsf", 0, &other), HTSUCCESS);
  const HTID e = addOrder(other, "Order", "Lamps", 40);  // a new match: not in the snapshot
  deleteDocument(other, c_);                              // a row of the snapshot
  updateDocument(other, a_, [](doc::Note& n) { n.setText("Form", "Invoice"); });  // no longer selected

  EXPECT_EQ(HTIndexGetCount(index), 3u);
  HTID note = 0;
  HTUINT flags = 0;
  ASSERT_EQ(HTIndexSetPosition(index, 3), HTSUCCESS);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, d_);  // positions did not shift
  ASSERT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{a_, d_}));  // the deleted row is skipped
  EXPECT_EQ(walk(index, HTNAVFLAG_BACKWARD), (std::vector<HTID>{a_}));
  // Current on the deleted row: the next live one stands in.
  ASSERT_EQ(HTIndexSetPosition(index, 2), HTSUCCESS);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, d_);
  EXPECT_EQ(HTIndexGetPosition(index), 3u);

  ASSERT_EQ(HTIndexRefresh(index), HTSUCCESS);
  ASSERT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{d_, e}));
  HTIndexClose(index);
  HTDatabaseClose(other, 0);
}

TEST_F(CollectionTest, IndexOutlivesItsDatabaseHandle) {
  HTINDEXHANDLE index = search(db_, "Amount < 1000");
  ASSERT_EQ(HTDatabaseClose(db_, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{a_, b_, d_}));
  HTUINT value = 0;
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_DATABASE, &value), HTSUCCESS);
  EXPECT_EQ(value, db_);
  HTIndexClose(index);
}

TEST_F(CollectionTest, PropertiesAndViewOnlyCalls) {
  HTINDEXHANDLE index = search(db_, "");
  HTUINT value = 7;
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_IS_VIEW_BASED, &value), HTSUCCESS);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_IS_FTSEARCH, &value), HTSUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(HTIndexGetProperty(index, HTINDEX_VIEW_CACHE_STATS, &value), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTIndexGetProperty(index, HTINDEX_DATABASE, nullptr), HTFAIL_INVALID_ARGUMENT);

  HTKEYDESC key{};
  EXPECT_EQ(HTIndexListKey(index, HTLIST_FIRST, &key), HTFAIL_END_OF_LIST);
  key.type = HTTYPE_TEXT;
  key.value = "Order";
  HTUINT matched = 0;
  EXPECT_EQ(HTIndexKeySearch(index, 1, &key, HTKEYSEARCH_EXACT, &matched), HTFAIL_NOT_A_VIEW);
  HTINT type = 0;
  HTUINT length = 0;
  EXPECT_EQ(HTViewcellGetLength(index, 1, &type, &length), HTFAIL_NOT_A_VIEW);
  HTIndexClose(index);

  EXPECT_EQ(HTIndexGetCount(index), 0u);
  EXPECT_EQ(HTIndexSearch(index, "", 0, &matched), HTFAIL_INVALID_HANDLE);
  EXPECT_EQ(HTIndexOpen(db_, nullptr), HTFAIL_INVALID_ARGUMENT);
  HTINDEXHANDLE none = 0;
  EXPECT_EQ(HTIndexOpen(db_ + 12345, &none), HTFAIL_INVALID_HANDLE);
}

TEST_F(CollectionTest, DocumentPropertiesInFormulas) {
  updateDocument(db_, d_, [&](doc::Note& n) { n.header.parent = UNID{{1, 2, 3, 4}}; });
  HTINDEXHANDLE index = search(db_, "@IsResponseDoc");
  EXPECT_EQ(walk(index), (std::vector<HTID>{d_}));
  HTIndexClose(index);
  index = search(db_, "@Created <= @Now & @Modified >= @Created & @Length(@DocumentUniqueID) = 32");
  EXPECT_EQ(HTIndexGetCount(index), 4u);
  HTIndexClose(index);
}

// Readers items where the ACL is enforced: an index shows only what its user may read.
class ReadersTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    HTDBHANDLE db = createAndOpen("secret.nsf", "Secret");
    auto entry = [](const char* name, HTINT level) {
      HTACLENTRY e{};
      std::strncpy(e.name, name, sizeof e.name - 1);
      e.level = level;
      return e;
    };
    HTACLENTRY rita = entry("Rita Reader/Acme", HTACLLEVEL_READER);
    HTACLENTRY ed = entry("Ed Editor/Acme", HTACLLEVEL_EDITOR);
    ed.roles[0] = 1;  // role 1
    ASSERT_EQ(HTACLAdd(db, &rita), HTSUCCESS);
    ASSERT_EQ(HTACLAdd(db, &ed), HTSUCCESS);
    ASSERT_EQ(HTACLSetRoleName(db, 1, "[Auditors]"), HTSUCCESS);
    open_ = addOrder(db, "Order", "Open", 1);
    forRita_ = addDocument(db, [](doc::Note& n) {
      n.setText("Form", "Order");
      n.setTextList("ReadBy", {"CN=Rita Reader/O=Acme"}, index::kItemReaders);
    });
    forAuditors_ = addDocument(db, [](doc::Note& n) {
      n.setText("Form", "Order");
      n.setText("ReadBy", "[Auditors]", index::kItemReaders);
    });
    ASSERT_EQ(HTACLSetACLProperty(db, HTACL_UNIFORM_ACL, 1), HTSUCCESS);
    HTDatabaseClose(db, 0);
  }

  std::vector<HTID> visibleTo(const char* user) {
    actAs(user);
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTDatabaseOpen("", "secret.nsf", 0, &db), HTSUCCESS);
    HTINDEXHANDLE index = search(db, "Form = \"Order\"");
    auto rows = walk(index);
    HTIndexClose(index);
    HTDatabaseClose(db, 0);
    return rows;
  }

  HTID open_ = 0, forRita_ = 0, forAuditors_ = 0;
};

TEST_F(ReadersTest, OnlyListedReadersSeeRestrictedDocuments) {
  EXPECT_EQ(visibleTo("Rita Reader/Acme"), (std::vector<HTID>{open_, forRita_}));
  EXPECT_EQ(visibleTo("Ed Editor/Acme"), (std::vector<HTID>{open_, forAuditors_}));  // through the role
}

}  // namespace
}  // namespace quire::engine::test
