// View design through the C API: creation and its refusals, the view and column records,
// look-up by name and alias, listing, copying, deleting, and design changes.
#include <cstring>

#include "engine/view/ViewIndex.h"
#include "view_support.h"

namespace quire::engine::test {
namespace {

class ViewDesignTest : public ViewTest {
 protected:
  HTID orders() {
    return view("Orders", "SELECT Form = \"Item\"",
                {{"Customer", "Category", "", HTCOLSORT_CAT_ASCEND},
                 {"Total", "", "Amount * 2", HTCOLSORT_DESCEND, HTCOLTOTAL_TOTAL, HTCOLFLAG_HIDDEN}});
  }

  size_t storedEntries(HTID viewId) {
    auto d = database(db_);
    auto lock = d->lock();
    size_t count = 0;
    view::forEachStoredEntry(d->conn(), viewId, [&](const view::StoredEntry&) { ++count; });
    return count;
  }
};

TEST_P(ViewDesignTest, ViewRecordCarriesFlagsColoursAndNames) {
  HTVIEWSPEC spec{};
  spec.name = "Overview";
  spec.alias = "ov|all";
  spec.flags = HTVIEWFLAG_FLAT | HTVIEWFLAG_ALTERNATE_ROWS | HTVIEWFLAG_COLLAPSED | HTVIEWFLAG_FOLDER;
  spec.backgroundColor = 15;
  spec.alternateColor = 17;
  HTID id = 0;
  ASSERT_EQ(HTViewCreate(db_, &spec, &id), HTSUCCESS);
  HTVIEWREC rec;
  std::memset(&rec, 0xAB, sizeof rec);
  ASSERT_EQ(HTViewFetch(db_, id, &rec), HTSUCCESS);
  // The folder bit is the note's class, not something a caller can ask for.
  EXPECT_EQ(rec.flags, HTVIEWFLAG_FLAT | HTVIEWFLAG_ALTERNATE_ROWS | HTVIEWFLAG_COLLAPSED);
  EXPECT_EQ(rec.view, id);
  EXPECT_EQ(rec.columnCount, 0u);
  EXPECT_EQ(rec.backgroundColor, 15u);
  EXPECT_EQ(rec.alternateColor, 17u);
  EXPECT_STREQ(rec.name, "Overview");
  EXPECT_STREQ(rec.alias, "ov");
  EXPECT_EQ(rec.reserved2[23], 0);  // the whole record is written
  EXPECT_EQ(HTViewFetch(db_, 9999, &rec), HTFAIL_NOT_A_VIEW);
  EXPECT_EQ(HTViewFetch(db_, id, nullptr), HTFAIL_INVALID_ARGUMENT);
}

TEST_P(ViewDesignTest, LocateByNameOrAliasIgnoringCase) {
  HTID id = 0;
  ASSERT_EQ(createView(db_, "By Customer", "", {}, 0, id, "cust|customers"), HTSUCCESS);
  EXPECT_EQ(HTViewLocateByName(db_, "by customer"), id);
  EXPECT_EQ(HTViewLocateByName(db_, "CUSTOMERS"), id);
  EXPECT_EQ(HTViewLocateByName(db_, " Cust "), id);
  EXPECT_EQ(HTViewLocateByName(db_, "Customer"), 0u);
  EXPECT_EQ(HTViewLocateByName(db_, nullptr), 0u);
  EXPECT_EQ(HTViewLocateByName(db_ + 1000, "cust"), 0u);
  HTLISTREC rec{};
  ASSERT_EQ(HTViewList(db_, HTLIST_FIRST, &rec), HTSUCCESS);
  EXPECT_EQ(rec.id, id);
  EXPECT_STREQ(rec.name, "By Customer");
  EXPECT_STREQ(rec.secondName, "cust");
  EXPECT_EQ(HTViewList(db_, HTLIST_NEXT, &rec), HTFAIL_END_OF_LIST);
}

TEST_P(ViewDesignTest, NamesAndAliasesMayNotRepeat) {
  HTID id = 0;
  ASSERT_EQ(createView(db_, "Main", "", {}, 0, id, "m"), HTSUCCESS);
  HTID other = 0;
  EXPECT_EQ(createView(db_, "MAIN", "", {}, 0, other), HTFAIL_NAME_EXISTS);
  EXPECT_EQ(createView(db_, "Second", "", {}, 0, other, "x|MAIN"), HTFAIL_NAME_EXISTS);
  EXPECT_EQ(createView(db_, "M", "", {}, 0, other), HTFAIL_NAME_EXISTS);
  EXPECT_NE(message(HTFAIL_NAME_EXISTS).find("M"), std::string::npos);
  EXPECT_EQ(other, 0u);
  ASSERT_EQ(createView(db_, "Second", "", {}, 0, other), HTSUCCESS);
}

TEST_P(ViewDesignTest, MalformedDesignsAreRefusedWithTheReason) {
  HTID id = 0;
  EXPECT_EQ(createView(db_, "Bad", "SELECT Form = ", {}, 0, id), HTFAIL_FORMULA_SYNTAX);
  const std::string text = message(HTFAIL_FORMULA_SYNTAX);
  EXPECT_NE(text.find("Selection formula of view 'Bad'"), std::string::npos) << text;
  EXPECT_NE(text.find("position"), std::string::npos) << text;
  EXPECT_EQ(createView(db_, "Bad", "", {{"T", "", "@Left(Subject"}}, 0, id), HTFAIL_FORMULA_SYNTAX);
  EXPECT_NE(message(HTFAIL_FORMULA_SYNTAX).find("Column 1 formula"), std::string::npos);
  EXPECT_EQ(createView(db_, "", "", {}, 0, id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(createView(db_, "   ", "", {}, 0, id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(createView(db_, std::string(128, 'v').c_str(), "", {}, 0, id), HTFAIL_TEXT_TOO_LONG);
  EXPECT_EQ(createView(db_, "Bad", "", {{std::string(81, 't').c_str(), "Subject"}}, 0, id), HTFAIL_TEXT_TOO_LONG);
  EXPECT_EQ(createView(db_, "Bad", "", {{"T", "Subject", "Amount"}}, 0, id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(createView(db_, "Bad", "", {{"T", "Subject", "", 2}}, 0, id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(createView(db_, "Bad", "", {{"T", "Subject", "", 0, 9}}, 0, id), HTFAIL_INVALID_ARGUMENT);
  HTVIEWSPEC spec{};
  spec.name = "Bad";
  spec.columnCount = 3;
  EXPECT_EQ(HTViewCreate(db_, &spec, &id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTViewCreate(db_, nullptr, &id), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTViewLocateByName(db_, "Bad"), 0u);  // nothing was stored
}

TEST_P(ViewDesignTest, ColumnRecordsDescribeEveryColumn) {
  const HTID id = orders();
  EXPECT_EQ(HTColumnGetCount(db_, id), 2u);
  EXPECT_EQ(HTColumnGetCount(db_, 9999), 0u);
  HTUINT number = 0;
  HTCOLUMNREC rec{};
  ASSERT_EQ(HTColumnList(db_, id, HTLIST_FIRST, &number, &rec), HTSUCCESS);
  EXPECT_EQ(number, 1u);
  EXPECT_EQ(rec.sort, uint32_t(HTCOLSORT_CAT_ASCEND));
  EXPECT_EQ(rec.isFormula, 0u);
  EXPECT_STREQ(rec.itemName, "Category");
  EXPECT_STREQ(rec.title, "Customer");
  EXPECT_EQ(rec.position, 1u);
  EXPECT_EQ(rec.fontSize, 10);
  ASSERT_EQ(HTColumnList(db_, id, HTLIST_NEXT, &number, &rec), HTSUCCESS);
  EXPECT_EQ(number, 2u);
  EXPECT_EQ(rec.flags, HTCOLFLAG_HIDDEN);
  EXPECT_EQ(rec.sort, uint32_t(HTCOLSORT_DESCEND));
  EXPECT_EQ(rec.total, uint32_t(HTCOLTOTAL_TOTAL));
  EXPECT_EQ(rec.isFormula, 1u);
  EXPECT_STREQ(rec.itemName, "");
  EXPECT_EQ(rec.width, 80);
  EXPECT_EQ(HTColumnList(db_, id, HTLIST_NEXT, &number, &rec), HTFAIL_END_OF_LIST);
  HTCOLUMNREC fetched{};
  ASSERT_EQ(HTColumnFetch(db_, id, 2, &fetched), HTSUCCESS);
  EXPECT_EQ(std::memcmp(&fetched, &rec, sizeof rec), 0);
  EXPECT_EQ(HTColumnFetch(db_, id, 0, &fetched), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTColumnFetch(db_, id, 3, &fetched), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTColumnList(db_, 9999, HTLIST_FIRST, &number, &rec), HTFAIL_NOT_A_VIEW);
}

TEST_P(ViewDesignTest, DeletedViewLosesItsIndex) {
  doc("a", "x", 1);
  const HTID id = orders();
  EXPECT_EQ(storedEntries(id), 1u);
  HTINDEXHANDLE index = open(id);
  ASSERT_EQ(HTViewDelete(db_, id), HTSUCCESS);
  EXPECT_EQ(storedEntries(id), 0u);
  EXPECT_EQ(HTViewLocateByName(db_, "Orders"), 0u);
  EXPECT_EQ(HTViewDelete(db_, id), HTFAIL_NOT_A_VIEW);
  // An index already open keeps its rows until refreshed.
  EXPECT_EQ(HTIndexGetCount(index), 3u);
  EXPECT_EQ(HTIndexRefresh(index), HTFAIL_NOT_A_VIEW);
  HTINDEXHANDLE again = 0;
  ASSERT_EQ(HTIndexOpen(db_, &again), HTSUCCESS);
  EXPECT_EQ(HTIndexOpenViewFolder(again, 0, id, 0), HTFAIL_NOT_A_VIEW);
  EXPECT_EQ(HTIndexOpenViewFolder(again, 0, 1, 0), HTFAIL_NOT_A_VIEW);  // the database's first note, not a view
  HTIndexClose(again);
}

TEST_P(ViewDesignTest, ViewMadeAfterTheLastOneWasDeletedSeesEveryDocument) {
  doc("a", "x", 1);
  ASSERT_EQ(HTViewDelete(db_, orders()), HTSUCCESS);
  doc("b", "y", 2);  // saved while the database has no view at all
  const HTID id = view("Again", "", {{"S", "Subject", "", HTCOLSORT_ASCEND}});
  doc("c", "z", 3);
  EXPECT_EQ(rows(open(id), HTNAV_NEXT, 0, 1), (std::vector<std::string>{"1 D x", "2 D y", "3 D z"}));
}

TEST_P(ViewDesignTest, CopyToAnotherDatabaseIndexesItsDocuments) {
  doc("here", "x", 1);
  const HTID id = orders();
  HTDBHANDLE other = createAndOpen("other.nsf", "Other");
  addDocument(other, [](doc::Note& n) {
    n.setText("Form", "Item");
    n.setText("Category", "there");
    n.setNumber("Amount", 4);
  });
  HTID copy = 0;
  ASSERT_EQ(HTViewCopy(db_, id, other, nullptr, &copy), HTSUCCESS);
  EXPECT_EQ(HTViewLocateByName(other, "orders"), copy);
  HTINDEXHANDLE index = open(copy, other);
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 2), (std::vector<std::string>{"1 C there|8", "1.1 D there|8", "2 T |8"}));
  EXPECT_EQ(HTViewCopy(db_, id, db_, "orders", &copy), HTFAIL_NAME_EXISTS);
  ASSERT_EQ(HTViewCopy(db_, id, db_, "Orders 2", &copy), HTSUCCESS);
  EXPECT_EQ(HTViewLocateByName(db_, "Orders 2"), copy);
  HTIndexClose(index);
  open_.pop_back();
  HTDatabaseClose(other, 0);
}

TEST_P(ViewDesignTest, ChangedDesignRebuildsTheIndex) {
  doc("a", "x", 1);
  doc("b", "y", 2);
  const HTID id = view("Subjects", "SELECT Amount > 1", {{"S", "Subject", "", HTCOLSORT_ASCEND}});
  EXPECT_EQ(rows(open(id), HTNAV_NEXT, 0, 1), (std::vector<std::string>{"1 D y"}));
  // The design edited as a note (as a designer's tool or replication would).
  updateDocument(db_, id, [](doc::Note& n) { n.setText("$Selection", "SELECT @All"); });
  EXPECT_EQ(rows(open(id), HTNAV_NEXT, 0, 1), (std::vector<std::string>{"1 D x", "2 D y"}));
}

TEST_P(ViewDesignTest, ColumnFormulasSeeTheDocument) {
  addDocument(db_, [](doc::Note& n) {
    n.setText("First", "Ada");
    n.setText("Last", "Lovelace");
  });
  const HTID id = view("Names", "", {{"Name", "", "Last + \", \" + First", HTCOLSORT_ASCEND},
                                     {"Response?", "", "@If(@IsResponseDoc; \"yes\"; \"no\")"},
                                     {"Broken", "", "1 / 0"}});
  EXPECT_EQ(rows(open(id), HTNAV_NEXT, 0, 3), (std::vector<std::string>{"1 D Lovelace, Ada|no|"}));
}

class EnforcedViewTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    for (auto [name, level] : {std::pair{"Rita Reader", HTACLLEVEL_READER}, std::pair{"Dora Designer", HTACLLEVEL_DESIGNER}}) {
      HTACLENTRY e{};
      std::strcpy(e.name, name);
      e.level = level;
      ASSERT_EQ(HTACLAdd(db_, &e), HTSUCCESS);
    }
    HTACLENTRY def{};
    std::strcpy(def.name, "-Default-");
    def.level = HTACLLEVEL_NO_ACCESS;
    ASSERT_EQ(HTACLUpdate(db_, &def, &def, HTACLUPDATE_LEVEL), HTSUCCESS);
    HTACLENTRY self{};
    std::strncpy(self.name, userName().c_str(), sizeof self.name - 1);
    self.level = HTACLLEVEL_MANAGER;
    HTACLAdd(db_, &self);
    ASSERT_EQ(HTACLSetACLProperty(db_, HTACL_UNIFORM_ACL, 1), HTSUCCESS);
  }
  HTDBHANDLE openAs(const char* user) {
    actAs(user);
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTDatabaseOpen(server(), "views.nsf", 0, &db), HTSUCCESS);
    return db;
  }
};

TEST_P(EnforcedViewTest, OnlyDesignersChangeViews) {
  if (onPostgres()) GTEST_SKIP() << "a named server closes a new database to users it does not list";
  HTDBHANDLE reader = openAs("Rita Reader");
  HTID id = 0;
  EXPECT_EQ(createView(reader, "Mine", "", {}, 0, id), HTFAIL_ACCESS_DENIED);
  EXPECT_NE(message(HTFAIL_ACCESS_DENIED).find("Rita Reader"), std::string::npos);
  HTDatabaseClose(reader, 0);
  HTDBHANDLE designer = openAs("Dora Designer");
  ASSERT_EQ(createView(designer, "Mine", "", {}, 0, id), HTSUCCESS);
  HTDatabaseClose(designer, 0);
  reader = openAs("Rita Reader");
  EXPECT_EQ(HTViewLocateByName(reader, "Mine"), id);
  EXPECT_EQ(HTViewDelete(reader, id), HTFAIL_ACCESS_DENIED);
  HTDatabaseClose(reader, 0);
}


QUIRE_BOTH_BACKENDS(EnforcedViewTest);

QUIRE_BOTH_BACKENDS(ViewDesignTest);

}  // namespace
}  // namespace quire::engine::test
