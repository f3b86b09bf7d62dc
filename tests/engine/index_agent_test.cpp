// Agents through the C API (create, list, run, refuse) and the formula evaluation helper.
#include <cstring>

#include "engine/index/Evaluate.h"
#include "index_support.h"

namespace quire::engine::test {
namespace {

class AgentTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    db_ = createAndOpen("shop.nsf", "Shop");
    small_ = addOrder(db_, "Order", "Pins", 5);
    large_ = addOrder(db_, "Order", "Anvil", 800);
    invoice_ = addOrder(db_, "Invoice", "Rent", 1200);
  }

  HTID create(const char* name, const char* formula, const char* selection = nullptr) {
    HTAGENTSPEC spec{name, formula, selection ? HTAGENTDOCS_SELECTED_VIEW : HTAGENTDOCS_ALL, selection};
    HTID id = 0;
    EXPECT_EQ(HTAgentCreate(db_, &spec, &id), HTSUCCESS) << message(HTFAIL_FORMULA_SYNTAX);
    return id;
  }

  HTDBHANDLE db_ = 0;
  HTID small_ = 0, large_ = 0, invoice_ = 0;
};

TEST_F(AgentTest, RunsOverSelectedDocumentsAndSavesChanges) {
  const HTID agent = create("Discount", "FIELD Amount := Amount * 0.5; FIELD Status := \"Discounted\"",
                            "Form = \"Order\"");
  HTUINT processed = 0, changed = 0;
  ASSERT_EQ(HTAgentExecute(db_, agent, 0, &processed, &changed), HTSUCCESS) << message(HTFAIL_FORMULA_EVAL);
  EXPECT_EQ(processed, 2u);
  EXPECT_EQ(changed, 2u);
  EXPECT_EQ(itemText(db_, large_, "Status"), "Discounted");
  HTINDEXHANDLE index = search(db_, "Amount = 400 | Amount = 2.5");
  EXPECT_EQ(walk(index), (std::vector<HTID>{small_, large_}));
  HTIndexClose(index);
  EXPECT_EQ(itemText(db_, invoice_, "Status"), "");

  // A SELECT inside the formula decides which documents change; unchanged values do not count.
  const HTID mark = create("Mark", "SELECT Amount > 100; FIELD Status := \"Discounted\"");
  ASSERT_EQ(HTAgentExecute(db_, mark, 0, &processed, &changed), HTSUCCESS);
  EXPECT_EQ(processed, 3u);
  EXPECT_EQ(changed, 1u);  // the invoice; the anvil already says so
  EXPECT_EQ(itemText(db_, invoice_, "Status"), "Discounted");
}

TEST_F(AgentTest, ChangesReachTheIndexesAndSequence) {
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 0, nullptr), HTSUCCESS);
  const HTID agent = create("Rename", "FIELD Subject := Subject + \" (archived)\"; FIELD Form := \"Archive\"",
                            "Amount < 10");
  HTUINT processed = 0, changed = 0;
  ASSERT_EQ(HTAgentExecute(db_, agent, 0, &processed, &changed), HTSUCCESS);
  EXPECT_EQ(changed, 1u);
  HTINDEXHANDLE index = 0;
  ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
  ASSERT_EQ(HTIndexFTSearch(index, "archived", 0, 0, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{small_}));
  HTIndexClose(index);
  auto d = database(db_);
  auto lock = d->lock();
  auto header = store::readNote(d->conn(), small_);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->sequence, 2);
  EXPECT_EQ(header->form, "Archive");
}

TEST_F(AgentTest, FailureLeavesNothingHalfDone) {
  // Text * number fails on the document whose Amount is text, after others were processed.
  updateDocument(db_, invoice_, [](doc::Note& n) { n.setText("Amount", "unknown"); });
  const HTID agent = create("Double", "FIELD Amount := Amount * 2");
  HTUINT processed = 9, changed = 9;
  EXPECT_EQ(HTAgentExecute(db_, agent, 0, &processed, &changed), HTFAIL_FORMULA_EVAL);
  EXPECT_NE(message(HTFAIL_FORMULA_EVAL).find("Double"), std::string::npos) << message(HTFAIL_FORMULA_EVAL);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(changed, 0u);
  EXPECT_EQ(number(db_, small_, "Amount"), 5);
}

TEST_F(AgentTest, DesignCallsAndBadSpecs) {
  const HTID agent = create("Tidy", "FIELD Subject := @Trim(Subject)");
  EXPECT_EQ(HTAgentLocateByName(db_, "tidy"), agent);
  HTLISTREC rec{};
  ASSERT_EQ(HTAgentFetch(db_, agent, &rec), HTSUCCESS);
  EXPECT_STREQ(rec.name, "Tidy");
  ASSERT_EQ(HTAgentList(db_, HTLIST_FIRST, &rec), HTSUCCESS);
  EXPECT_EQ(rec.id, agent);
  EXPECT_EQ(HTAgentList(db_, HTLIST_NEXT, &rec), HTFAIL_END_OF_LIST);

  HTAGENTSPEC dup{"TIDY", "1", HTAGENTDOCS_ALL, nullptr};
  HTID id = 0;
  EXPECT_EQ(HTAgentCreate(db_, &dup, &id), HTFAIL_NAME_EXISTS);
  HTAGENTSPEC bad{"Broken", "FIELD x := (1", HTAGENTDOCS_ALL, nullptr};
  EXPECT_EQ(HTAgentCreate(db_, &bad, &id), HTFAIL_FORMULA_SYNTAX);
  HTAGENTSPEC badSelection{"Broken", "1", HTAGENTDOCS_SELECTED_VIEW, "Form = "};
  EXPECT_EQ(HTAgentCreate(db_, &badSelection, &id), HTFAIL_FORMULA_SYNTAX);
  HTAGENTSPEC noName{"  ", "1", HTAGENTDOCS_ALL, nullptr};
  EXPECT_EQ(HTAgentCreate(db_, &noName, &id), HTFAIL_INVALID_ARGUMENT);
  HTAGENTSPEC unread{"Unread", "1", HTAGENTDOCS_UNREAD, nullptr};
  EXPECT_EQ(HTAgentCreate(db_, &unread, &id), HTFAIL_INVALID_ARGUMENT);
  const std::string longName(200, 'n');
  HTAGENTSPEC tooLong{longName.c_str(), "1", HTAGENTDOCS_ALL, nullptr};
  EXPECT_EQ(HTAgentCreate(db_, &tooLong, &id), HTFAIL_TEXT_TOO_LONG);
  EXPECT_EQ(HTAgentCreate(db_, nullptr, &id), HTFAIL_INVALID_ARGUMENT);

  HTDBHANDLE copyDb = createAndOpen("copy.nsf");
  HTID copied = 0;
  ASSERT_EQ(HTAgentCopy(db_, agent, copyDb, "Tidy too", &copied), HTSUCCESS);
  EXPECT_EQ(HTAgentLocateByName(copyDb, "Tidy too"), copied);

  HTUINT processed = 0, changed = 0;
  EXPECT_EQ(HTAgentExecute(db_, small_, 0, &processed, &changed), HTFAIL_NOTE_NOT_FOUND);  // a document
  ASSERT_EQ(HTAgentDelete(db_, agent), HTSUCCESS);
  EXPECT_EQ(HTAgentLocateByName(db_, "Tidy"), 0u);
  EXPECT_EQ(HTAgentExecute(db_, agent, 0, &processed, &changed), HTFAIL_NOTE_NOT_FOUND);
}

TEST_F(AgentTest, ReaderMayRunOnlyWhatChangesNothing) {
  const HTID change = create("Flag", "FIELD Seen := 1");
  const HTID look = create("Look", "Amount > 100");
  auto entry = [](const char* name, HTINT level) {
    HTACLENTRY e{};
    std::strncpy(e.name, name, sizeof e.name - 1);
    e.level = level;
    return e;
  };
  HTACLENTRY rita = entry("Rita Reader", HTACLLEVEL_READER);
  ASSERT_EQ(HTACLAdd(db_, &rita), HTSUCCESS);
  ASSERT_EQ(HTACLSetACLProperty(db_, HTACL_UNIFORM_ACL, 1), HTSUCCESS);
  actAs("Rita Reader");
  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen("", "shop.nsf", 0, &db), HTSUCCESS);
  HTUINT processed = 0, changed = 0;
  EXPECT_EQ(HTAgentExecute(db, change, 0, &processed, &changed), HTFAIL_ACCESS_DENIED);
  EXPECT_NE(message(HTFAIL_ACCESS_DENIED).find("Rita Reader"), std::string::npos);
  EXPECT_EQ(changed, 0u);
  EXPECT_EQ(itemText(db, small_, "Seen"), "");
  ASSERT_EQ(HTAgentExecute(db, look, 0, &processed, &changed), HTSUCCESS);
  EXPECT_EQ(processed, 3u);
  EXPECT_EQ(changed, 0u);
  HTAGENTSPEC spec{"Mine", "1", HTAGENTDOCS_ALL, nullptr};
  HTID id = 0;
  EXPECT_EQ(HTAgentCreate(db, &spec, &id), HTFAIL_ACCESS_DENIED);
  HTDatabaseClose(db, 0);
}

TEST_F(AgentTest, EvaluateRendersValues) {
  char out[64];
  ASSERT_EQ(HTQuireEvaluate(db_, large_, "Subject + \": \" + @Text(Amount * 2)", sizeof out, out), HTSUCCESS);
  EXPECT_STREQ(out, "Anvil: 1600");
  ASSERT_EQ(HTQuireEvaluate(db_, 0, "1 : 2.5 : 3", sizeof out, out), HTSUCCESS);
  EXPECT_STREQ(out, "1; 2.5; 3");
  ASSERT_EQ(HTQuireEvaluate(db_, 0, "@Date(2024; 2; 29)", sizeof out, out), HTSUCCESS);
  EXPECT_STREQ(out, "02/29/2024");
  ASSERT_EQ(HTQuireEvaluate(db_, small_, "FIELD Amount := 99; Amount", sizeof out, out), HTSUCCESS);
  EXPECT_STREQ(out, "99");
  EXPECT_EQ(number(db_, small_, "Amount"), 5);  // evaluation never saves
  ASSERT_EQ(HTQuireEvaluate(db_, small_, "@UpperCase(\"abcdefghij\")", 6, out), HTSUCCESS);
  EXPECT_STREQ(out, "ABCDE");  // cut to the capacity
  EXPECT_EQ(HTQuireEvaluate(db_, 0, "1 +", sizeof out, out), HTFAIL_FORMULA_SYNTAX);
  EXPECT_NE(message(HTFAIL_FORMULA_SYNTAX).find("position"), std::string::npos);
  EXPECT_EQ(HTQuireEvaluate(db_, 0, "\"a\" * 2", sizeof out, out), HTFAIL_FORMULA_EVAL);
  EXPECT_EQ(HTQuireEvaluate(db_, 987654, "1", sizeof out, out), HTFAIL_NOTE_NOT_FOUND);
  deleteDocument(db_, small_);
  EXPECT_EQ(HTQuireEvaluate(db_, small_, "1", sizeof out, out), HTFAIL_NOTE_DELETED);
  EXPECT_EQ(HTQuireEvaluate(db_, 0, "1", 0, out), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTQuireEvaluate(db_, 0, "1", sizeof out, nullptr), HTFAIL_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace quire::engine::test
