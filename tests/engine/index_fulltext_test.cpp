// Full-text search through the C API: the query language, refine and clear with positions,
// sorting and limits, the index kept current by saves and deletes, attachments, and the scan
// that answers the same as the index when there is none.
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/doc/Composite.h"
#include "engine/index/FullText.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/Properties.h"
#include "index_support.h"

namespace quire::engine::test {
namespace {

class FullTextTest : public BackendTestOf<IndexTest> {
 protected:
  void SetUp() override {
    BackendTestOf<IndexTest>::SetUp();
    if (IsSkipped()) return;
    db_ = createAndOpen("notes.nsf", "Notes");
    // Apart in time, so that sorting by date has one answer.
    fox_ = addText("Memo", "The quick brown fox", "jumps over the lazy dog");
    pause();
    dog_ = addText("Memo", "Dogs and cats", "the dog walks the dog on a lazy afternoon");
    pause();
    cafe_ = addText("Report", "Café report", "quarterly numbers, brown paper");
    pause();
    order_ = addDocument(db_, [](doc::Note& n) {
      n.setText("Form", "Order");
      n.setText("Subject", "Order for foxgloves");
      n.setNumber("Amount", 500);
      n.setTextList("Tags", {"garden", "flowers"});
    });
  }

  static void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(3)); }

  HTID addText(const char* form, const char* subject, const char* body) {
    return addDocument(db_, [&](doc::Note& n) {
      n.setText("Form", form);
      n.setText("Subject", subject);
      n.put({"Body", HTTYPE_COMPOSITE, 0, doc::Composite::fromPlainText(body).encode()});
    });
  }

  // The documents a database-wide search finds, in note order.
  std::vector<HTID> find(const char* query, HTINT sort = HTFTSORT_NONE, HTUINT maxDocs = 0) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    HTSTATUS s = HTIndexFTSearch(index, query, 0, sort, maxDocs);
    EXPECT_EQ(s, HTSUCCESS) << query << ": " << message(s);
    auto rows = walk(index);
    HTIndexClose(index);
    return rows;
  }

  std::vector<HTID> scanned(const char* query) {
    std::vector<index::fulltext::Hit> hits;
    EXPECT_EQ(index::fulltext::scan(database(db_), index::ReadAccess(), query, nullptr, hits), HTSUCCESS);
    std::vector<HTID> out;
    for (const auto& h : hits) out.push_back(h.note);
    return out;
  }

  void createIndex() {
    HTFTSTATS stats{};
    ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 0, &stats), HTSUCCESS);
    EXPECT_GE(stats.documentsIndexed, 4u);
    EXPECT_GT(stats.bytesIndexed, 50u);
  }

  HTDBHANDLE db_ = 0;
  HTID fox_ = 0, dog_ = 0, cafe_ = 0, order_ = 0;
};

// The query language, asked of the index and of the scan alike: both must agree.
TEST_P(FullTextTest, QueryLanguageWithAndWithoutIndex) {
  struct Case {
    const char* query;
    std::vector<HTID> expected;
  };
  const std::vector<Case> cases = {
      {"lazy", {fox_, dog_}},
      {"LAZY dog", {fox_, dog_}},
      {"\"lazy dog\"", {fox_}},
      {"brown AND lazy", {fox_}},
      {"fox OR cats", {fox_, dog_}},
      {"lazy AND NOT cats", {fox_}},
      {"NOT lazy", {cafe_, order_}},
      {"fox*", {fox_, order_}},
      {"cafe", {cafe_}},  // diacritics do not matter
      {"FIELD Subject CONTAINS brown", {fox_}},
      {"[Body] CONTAINS brown", {cafe_}},
      {"[Subject] = \"dogs and\"", {dog_}},
      {"500", {order_}},  // numbers are indexed as text
      {"flowers & garden", {order_}},
      {"(fox | cats) & !quick", {dog_}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find(c.query), c.expected) << "scan: " << c.query;
    EXPECT_EQ(scanned(c.query), c.expected) << "scan helper: " << c.query;
  }
  HTFTSTATS stats{};
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 0, &stats), HTSUCCESS);
  EXPECT_EQ(stats.documentsIndexed, 4u);
  EXPECT_EQ(stats.documentsDeleted, 0u);
  HTUINT indexed = 0;
  ASSERT_EQ(HTDatabaseGetProperty(db_, HTDATABASE_IS_FTINDEXED, &indexed), HTSUCCESS);
  EXPECT_EQ(indexed, 1u);
  for (const auto& c : cases) EXPECT_EQ(find(c.query), c.expected) << "index: " << c.query;
}

TEST_P(FullTextTest, MalformedQueryNamesThePosition) {
  for (bool withIndex : {false, true}) {
    if (withIndex) createIndex();
    HTINDEXHANDLE index = 0;
    ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    EXPECT_EQ(HTIndexFTSearch(index, "fox AND (lazy", 0, 0, 0), HTFAIL_FTQUERY_SYNTAX);
    const std::string text = message(HTFAIL_FTQUERY_SYNTAX);
    EXPECT_NE(text.find("position"), std::string::npos) << text;
    EXPECT_EQ(HTIndexFTSearch(index, "\"unclosed", 1, 0, 0), HTFAIL_FTQUERY_SYNTAX);
    EXPECT_EQ(HTIndexFTSearch(index, "fox", 1, 99, 0), HTFAIL_INVALID_ARGUMENT);
    std::string chain;
    for (int i = 0; chain.size() < 1'000'000; ++i) chain += (i ? " OR fox" : "fox") + std::to_string(i);
    EXPECT_EQ(HTIndexFTSearch(index, chain.c_str(), 0, 0, 0), HTFAIL_FTQUERY_SYNTAX);
    EXPECT_NE(message(HTFAIL_FTQUERY_SYNTAX).find("longer than"), std::string::npos);
    EXPECT_EQ(HTIndexGetCount(index), 0u);
    HTIndexClose(index);
  }
}

// The library's collection: formula search, then FTSearch (1), FTRefine (0x11) and FTClear
// (0x10000) returning to the saved position.
TEST_P(FullTextTest, RefineAndClearRestoreTheRows) {
  createIndex();
  HTINDEXHANDLE index = search(db_, "");
  ASSERT_EQ(HTIndexGetCount(index), 4u);
  HTID note = 0;
  HTUINT flags = 0;
  ASSERT_EQ(HTIndexSetPosition(index, 3), HTSUCCESS);
  ASSERT_EQ(HTIndexFTSearch(index, "brown OR lazy", HTFTOPT_SEARCH, HTFTSORT_NONE, 0), HTSUCCESS);
  EXPECT_EQ(HTIndexGetPosition(index), 0u);
  EXPECT_EQ(walk(index), (std::vector<HTID>{fox_, dog_, cafe_}));
  HTUINT active = 0;
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_IS_FTSEARCH, &active), HTSUCCESS);
  EXPECT_EQ(active, 1u);
  HTUINT score = 0;
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_FTSEARCH_SCORE, &score), HTSUCCESS);
  EXPECT_GE(score, 1u);
  EXPECT_LE(score, 100u);

  ASSERT_EQ(HTIndexFTSearch(index, "dog", HTFTOPT_SEARCH | HTFTOPT_REFINE, HTFTSORT_SCORE_ASCEND, 0), HTSUCCESS);
  EXPECT_EQ(HTIndexGetCount(index), 2u);
  auto refined = walk(index);
  std::sort(refined.begin(), refined.end());
  EXPECT_EQ(refined, (std::vector<HTID>{fox_, dog_}));
  // A second search replaces the result rather than narrowing it.
  ASSERT_EQ(HTIndexFTSearch(index, "report", HTFTOPT_SEARCH, HTFTSORT_NONE, 0), HTSUCCESS);
  ASSERT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{cafe_}));

  ASSERT_EQ(HTIndexFTSearch(index, "", HTFTOPT_CLEAR, HTFTSORT_NONE, 0), HTSUCCESS);
  ASSERT_EQ(HTIndexGetProperty(index, HTINDEX_IS_FTSEARCH, &active), HTSUCCESS);
  EXPECT_EQ(active, 0u);
  EXPECT_EQ(HTIndexGetCount(index), 4u);
  ASSERT_EQ(HTIndexSetPosition(index, 3), HTSUCCESS);  // the library's MoveTo(SavedPosition)
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, cafe_);
  // Clearing without a search is harmless.
  EXPECT_EQ(HTIndexFTSearch(index, "", HTFTOPT_CLEAR, 0, 0), HTSUCCESS);
  EXPECT_EQ(HTIndexGetCount(index), 4u);
  HTIndexClose(index);
}

TEST_P(FullTextTest, SearchNarrowsAFormulaSelection) {
  HTINDEXHANDLE index = search(db_, "Form = \"Memo\"");
  ASSERT_EQ(HTIndexFTSearch(index, "brown", 1, 2, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{fox_}));  // not the brown Report
  ASSERT_EQ(HTIndexFTSearch(index, "", HTFTOPT_CLEAR, 0, 0), HTSUCCESS);
  EXPECT_EQ(walk(index), (std::vector<HTID>{fox_, dog_}));
  HTIndexClose(index);
}

TEST_P(FullTextTest, SortAndMaximum) {
  createIndex();
  // Make the modification order differ from the note order.
  pause();
  updateDocument(db_, fox_, [](doc::Note& n) { n.setText("Extra", "brown"); });
  const std::vector<HTID> all = find("brown OR lazy OR foxgloves");
  EXPECT_EQ(all, (std::vector<HTID>{fox_, dog_, cafe_, order_}));
  EXPECT_EQ(find("brown OR lazy OR foxgloves", HTFTSORT_DATE_DESCEND), (std::vector<HTID>{fox_, order_, cafe_, dog_}));
  EXPECT_EQ(find("brown OR lazy OR foxgloves", HTFTSORT_DATE_ASCEND), (std::vector<HTID>{dog_, cafe_, order_, fox_}));
  EXPECT_EQ(find("brown OR lazy OR foxgloves", HTFTSORT_DATE_ASCEND, 2), (std::vector<HTID>{dog_, cafe_}));
  EXPECT_EQ(find("lazy", HTFTSORT_NONE, 1), (std::vector<HTID>{fox_}));
  // The document that says "dog" most ranks first by relevance.
  const auto byScore = find("dog", HTFTSORT_SCORE_DESCEND);
  ASSERT_EQ(byScore.size(), 2u);
  EXPECT_EQ(byScore.front(), dog_);
  EXPECT_EQ(find("dog", HTFTSORT_SCORE_ASCEND).front(), fox_);
}

TEST_P(FullTextTest, IndexFollowsSavesAndDeletes) {
  createIndex();
  const HTID fresh = addText("Memo", "Zebra crossing", "stripes");
  EXPECT_EQ(find("zebra"), (std::vector<HTID>{fresh}));
  updateDocument(db_, fox_, [](doc::Note& n) { n.setText("Subject", "The slow grey wolf"); });
  EXPECT_EQ(find("quick"), std::vector<HTID>{});
  EXPECT_EQ(find("wolf"), (std::vector<HTID>{fox_}));
  deleteDocument(db_, dog_);
  EXPECT_EQ(find("cats"), std::vector<HTID>{});
  {
    auto d = database(db_);
    auto lock = d->lock();
    auto st = d->conn().prepare("SELECT count(*) FROM ft_index");
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->int64(0), 4);  // fox, cafe, order, fresh
  }
  // Deleting the index falls back to the scan, with the same answers.
  ASSERT_EQ(HTDatabaseDeleteFTIndex(db_), HTSUCCESS);
  HTUINT indexed = 1;
  ASSERT_EQ(HTDatabaseGetProperty(db_, HTDATABASE_IS_FTINDEXED, &indexed), HTSUCCESS);
  EXPECT_EQ(indexed, 0u);
  EXPECT_EQ(find("wolf OR zebra"), (std::vector<HTID>{fox_, fresh}));
  const HTID later = addText("Memo", "Zebra again", "");
  EXPECT_EQ(find("zebra"), (std::vector<HTID>{fresh, later}));
  // Rebuilding reports what it dropped.
  HTFTSTATS stats{};
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 1, &stats), HTSUCCESS);
  EXPECT_EQ(stats.documentsIndexed, 5u);
  EXPECT_EQ(find("zebra"), (std::vector<HTID>{fresh, later}));
  HTDATETIME when{};
  ASSERT_EQ(HTDatabaseGetProperty(db_, HTDATABASE_FTINDEX_LAST, &when), HTSUCCESS);
  EXPECT_NE(when.hi, 0u);
}

TEST_P(FullTextTest, TextAttachmentsAreSearchable) {
  const HTID withFiles = addDocument(db_, [](doc::Note& n) {
    n.setText("Form", "Memo");
    auto attach = [&](const char* name, std::string bytes) {
      doc::Attachment a;
      a.name = name;
      a.size = bytes.size();
      a.bytes = std::make_shared<const store::Blob>(bytes.begin(), bytes.end());
      n.attachments.push_back(a);
    };
    attach("notes.txt", "minutes of the harbour meeting");
    attach("page.html", "<p>ferry&amp;<b>timetable</b></p>");
    attach("image.bin", std::string("\x89PNG\0\0lighthouse", 16));
  });
  for (bool withIndex : {false, true}) {
    if (withIndex) createIndex();
    EXPECT_EQ(find("harbour"), (std::vector<HTID>{withFiles})) << withIndex;
    EXPECT_EQ(find("timetable"), (std::vector<HTID>{withFiles})) << withIndex;
    EXPECT_EQ(find("ferry"), (std::vector<HTID>{withFiles})) << withIndex;
    EXPECT_EQ(find("lighthouse"), std::vector<HTID>{}) << withIndex;  // binary: not indexed
    EXPECT_EQ(find("p OR b"), std::vector<HTID>{}) << withIndex;      // tags are not text
  }
}

TEST_P(FullTextTest, EncryptedAndDesignItemsAreNotIndexed) {
  const HTID hidden = addDocument(db_, [](doc::Note& n) {
    n.setText("Form", "Memo");
    n.setText("$Internal", "plumbing");
    n.setText("Secret", "password123", index::kItemEncrypted);
  });
  (void)hidden;
  EXPECT_EQ(find("plumbing"), std::vector<HTID>{});
  EXPECT_EQ(find("password123"), std::vector<HTID>{});
  createIndex();
  EXPECT_EQ(find("plumbing OR password123"), std::vector<HTID>{});
}

// A document longer than an index row holds exactly (more words than a position can
// number, a word repeated beyond the positions kept for it) and words with quotes in them
// must be found exactly as the scan finds them.
TEST_P(FullTextTest, LongDocumentsAndQuotedWordsMatchAsTheScanDoes) {
  std::string longBody;
  for (int i = 0; i < 20000; ++i) longBody += i % 2 ? "filler " : "word" + std::to_string(i % 7) + " ";
  longBody += "needle haystack";
  const HTID big = addText("Memo", "Long", longBody.c_str());
  const HTID quoted = addText("Memo", "O'Brien's notes", "back\\slash and 'single quotes'");
  const std::vector<std::pair<const char*, std::vector<HTID>>> cases = {
      {"\"needle haystack\"", {big}},
      {"\"haystack needle\"", {}},
      {"needle AND word3", {big}},
      {"filler AND NOT needle", {}},
      {"\"o'brien's\"", {quoted}},
      {"[Subject] CONTAINS \"o'brien's note\"*", {quoted}},
      {"single OR slash", {quoted}},
      {"\"lazy afternoon\" OR \"jumps over the lazy\"", {fox_, dog_}},
      {"\"dogs and cats the\"", {}},  // a phrase does not run from one item into the next
  };
  for (const auto& [query, expected] : cases) EXPECT_EQ(find(query), expected) << "scan: " << query;
  createIndex();
  for (const auto& [query, expected] : cases) EXPECT_EQ(find(query), expected) << "index: " << query;
  EXPECT_EQ(find("needle OR quotes", HTFTSORT_SCORE_DESCEND).size(), 2u);
}

QUIRE_BOTH_BACKENDS(FullTextTest);

}  // namespace
}  // namespace quire::engine::test
