// A view opened from the chunk summaries of its last build numbers its rows without reading
// them: every answer must still be the one a view read whole gives, across chunk boundaries,
// with categories and totals spanning chunks. The reference is the same design kept entry by
// entry (made before the documents), which is always read whole.
#include <string>
#include <vector>

#include "engine/store/Transaction.h"
#include "engine/view/BaseSummary.h"
#include "engine/view/ViewIndex.h"
#include "engine/view/ViewSnapshot.h"
#include "view_support.h"

namespace quire::engine::test {
namespace {

class OutlineTest : public ViewTest {
 protected:
  // Two category levels, a sorted text long enough that a few hundred documents fill several
  // chunks, and total columns of every kind that reads category rows.
  static std::vector<Column> categorised() {
    return {{"Category", "Category", "", HTCOLSORT_CAT_ASCEND},
            {"Region", "Region", "", HTCOLSORT_CAT_DESCEND},
            {"Subject", "Subject", "", HTCOLSORT_ASCEND},
            {"Amount", "Amount", "", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL},
            {"Share", "", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_PARENT_PCT},
            {"Average", "", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_CHILD_AVG},
            {"Per document", "", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_DOCUMENT_AVG}};
  }
  static std::vector<Column> flat() {
    return {{"Subject", "Subject", "", HTCOLSORT_DESCEND}, {"Amount", "Amount", "", HTCOLSORT_ASCEND}};
  }

  std::vector<HTID> documents(int count) {
    const std::string padding(700, 'x');
    std::vector<HTID> ids;
    for (int i = 0; i < count; ++i) {
      ids.push_back(addDocument(db_, [&](doc::Note& n) {
        n.setText("Category", i % 11 == 0 ? "Rare" : i % 2 ? "Odd" : "Even");
        n.setText("Region", "Region " + std::to_string(i % 3));
        n.setText("Subject", "S" + std::to_string((i * 7919) % 97) + padding);
        n.setNumber("Amount", double(i % 13));
      }));
    }
    return ids;
  }

  std::shared_ptr<const view::ViewSnapshot> snapshot(HTID viewId) {
    auto d = database(db_);
    return view::ViewSnapshot::acquire(*d, viewId, index::ReadAccess());
  }

  int64_t chunks(HTID viewId) {
    auto d = database(db_);
    auto lock = d->lock();
    auto st = d->conn().prepare("SELECT COUNT(*) FROM view_base_chunks WHERE view_id = ?1");
    st->bind(1, int64_t(viewId));
    return st->step() ? st->int64(0) : -1;
  }

  // Every row in order with what a reader learns of it: position text and number, kind,
  // entry flags, depth and cells.
  static std::vector<std::string> walk(HTINDEXHANDLE index, HTUINT columns) {
    std::vector<std::string> out;
    EXPECT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
    HTID note = 0;
    HTUINT flags = 0;
    while (HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags) == HTSUCCESS) {
      HTUINT depth = 0;
      HTIndexGetProperty(index, HTINDEX_VIEW_DEPTH, &depth);
      out.push_back(std::to_string(HTIndexGetPosition(index)) + " " + std::to_string(flags) + " " +
                    std::to_string(depth) + " " + row(index, note, columns));
    }
    return out;
  }

  // From every row, every tree move in both directions, probed: where it lands or why not.
  static std::vector<std::string> moves(HTINDEXHANDLE index) {
    std::vector<std::string> out;
    const HTUINT count = HTIndexGetCount(index);
    for (HTUINT p = 0; p <= count; ++p) {
      for (HTINT nav : {HTNAV_SIBLING, HTNAV_CHILD, HTNAV_PARENT, HTNAV_MAIN, HTNAV_END}) {
        for (HTUINT flags : {HTUINT(0), HTUINT(HTNAVFLAG_BACKWARD), HTUINT(HTNAVFLAG_DOCUMENTS)}) {
          EXPECT_EQ(HTIndexSetPosition(index, p), HTSUCCESS);
          HTID note = 0;
          HTUINT entry = 0;
          const HTSTATUS s = HTIndexNavigate(index, nav, flags, &note, &entry);
          out.push_back(std::to_string(p) + ":" + std::to_string(nav) + ":" + std::to_string(flags) + " " +
                        std::to_string(s) + " " + std::to_string(s ? 0 : note) + " " + position(index));
        }
      }
    }
    return out;
  }

  // Each position text read back through setViewPosition lands on the same row.
  static std::vector<std::string> positionsReadBack(HTINDEXHANDLE index) {
    std::vector<std::string> texts, out;
    EXPECT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
    HTID note = 0;
    HTUINT flags = 0;
    while (HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags) == HTSUCCESS) texts.push_back(position(index));
    for (const auto& text : texts) {
      const HTSTATUS s = HTIndexSetViewPosition(index, text.c_str());
      out.push_back(text + " " + std::to_string(s) + " " + std::to_string(HTIndexGetPosition(index)));
    }
    for (const char* bad : {"0.1", "99", "1.99", "1.1.1.1.1"})
      out.push_back(std::string(bad) + " " + std::to_string(HTIndexSetViewPosition(index, bad)));
    return out;
  }

  static std::string search(HTINDEXHANDLE index, const std::vector<std::string>& texts, HTUINT mode) {
    std::vector<HTKEYDESC> keys(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) keys[i] = {0, HTTYPE_TEXT, texts[i].c_str(), 0};
    HTIndexSetPosition(index, 0);
    HTUINT matched = 0;
    const HTSTATUS s = HTIndexKeySearch(index, HTUINT(keys.size()), keys.data(), mode, &matched);
    return std::to_string(s) + " " + std::to_string(matched) + " " + std::to_string(HTIndexGetPosition(index));
  }
};

TEST_P(OutlineTest, ACategorisedViewOpenedFromSummariesAnswersAsOneReadWhole) {
  const HTID kept = view("Kept", "", categorised());
  documents(420);
  const HTID built = view("Built", "", categorised());
  ASSERT_GE(chunks(built), 4);
  ASSERT_TRUE(snapshot(built)->readsOnDemand());
  ASSERT_FALSE(snapshot(kept)->readsOnDemand());

  HTINDEXHANDLE a = open(kept), b = open(built);
  EXPECT_EQ(HTIndexGetCount(a), HTIndexGetCount(b));
  const auto rowsA = walk(a, 7);
  ASSERT_GT(rowsA.size(), 420u);
  EXPECT_EQ(rowsA, walk(b, 7));
  EXPECT_EQ(rows(a, HTNAV_NEXT, HTNAVFLAG_BACKWARD, 7), rows(b, HTNAV_NEXT, HTNAVFLAG_BACKWARD, 7));
  EXPECT_EQ(moves(a), moves(b));
  EXPECT_EQ(positionsReadBack(a), positionsReadBack(b));

  // Keys at and around every chunk's first entry, whole and as leading text, and keys that
  // fall between entries or past the end.
  std::vector<std::vector<std::string>> keys = {{"Zzz"}, {"Aaa"}, {"Even", "Region 1", "S5"}, {"Odd", "Region 9"}};
  for (const char* category : {"Even", "Odd", "Rare"})
    for (int r = 0; r < 3; ++r)
      for (int s = 0; s < 97; s += 7) keys.push_back({category, "Region " + std::to_string(r), "S" + std::to_string(s)});
  for (const auto& k : keys) {
    EXPECT_EQ(search(a, k, HTKEYSEARCH_PARTIAL), search(b, k, HTKEYSEARCH_PARTIAL)) << k.back();
    if (k.size() < 3) {
      EXPECT_EQ(search(a, k, HTKEYSEARCH_EXACT), search(b, k, HTKEYSEARCH_EXACT)) << k.back();
    }
  }
}

TEST_P(OutlineTest, AFlatViewOpenedFromSummariesAnswersAsOneReadWhole) {
  const HTID kept = view("Kept", "", flat());
  documents(300);
  const HTID built = view("Built", "", flat());
  ASSERT_GE(chunks(built), 3);
  ASSERT_TRUE(snapshot(built)->readsOnDemand());
  HTINDEXHANDLE a = open(kept), b = open(built);
  EXPECT_EQ(walk(a, 2), walk(b, 2));
  EXPECT_EQ(moves(a), moves(b));
  for (int s = 0; s < 97; ++s) {
    const std::vector<std::string> key = {"S" + std::to_string(s)};
    EXPECT_EQ(search(a, key, HTKEYSEARCH_PARTIAL), search(b, key, HTKEYSEARCH_PARTIAL)) << s;
  }
}

// A save after the build leaves the chunks as they are: cursors opened before it go on
// reading the rows of their moment from them, while new opens (also inside the saving
// transaction) read the view whole and see the change.
TEST_P(OutlineTest, ChangesAfterTheBuildAreSeenByNewOpensAndNotByOlderCursors) {
  const auto ids = documents(300);
  const HTID built = view("Built", "", flat());
  HTINDEXHANDLE before = open(built);
  const auto rowsBefore = walk(before, 2);
  HTINDEXHANDLE untouched = open(built);  // opened, no row read yet

  updateDocument(db_, ids[10], [](doc::Note& n) { n.setText("Subject", "ZZZ first"); });
  EXPECT_FALSE(snapshot(built)->readsOnDemand());
  HTINDEXHANDLE after = open(built);
  HTID note = 0;
  HTUINT flags = 0;
  ASSERT_EQ(HTIndexNavigate(after, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);
  EXPECT_EQ(note, ids[10]);
  EXPECT_EQ(walk(untouched, 2), rowsBefore);

  {
    auto d = database(db_);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    deleteDocument(db_, ids[20]);
    HTINDEXHANDLE inside = open(built);
    EXPECT_EQ(HTIndexGetCount(inside), 299u);
    tx.commit();
  }
}

// Built again under an open cursor: rows it had not read yet are no longer stored, which it
// says instead of showing the new build's rows in the old places; a refresh goes on.
TEST_P(OutlineTest, ARebuildUnderAnOpenCursorAsksForARefresh) {
  documents(300);
  const HTID built = view("Built", "", flat());
  HTINDEXHANDLE index = open(built);
  HTID note = 0;
  HTUINT flags = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);
  {
    auto d = database(db_);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    view::rebuild(*d, d->conn(), *view::designOf(*d, d->conn(), built));
    tx.commit();
  }
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);  // its chunk was read
  EXPECT_NE(cell(index, 1), "<error>");
  // A cell of a row in a chunk not read yet fails each time it is asked for, never answering
  // with the cells of the row read before.
  ASSERT_EQ(HTIndexSetPosition(index, HTIndexGetCount(index)), HTSUCCESS);
  for (int attempt = 0; attempt < 2; ++attempt) {
    char text[64];
    HTINT type = HTTYPE_TEXT;
    HTUINT length = sizeof text;
    EXPECT_EQ(HTViewcellFetch(index, 1, &type, &length, text), HTFAIL_CONFLICT) << attempt;
  }
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_END, 0, &note, &flags), HTFAIL_CONFLICT);
  ASSERT_EQ(HTIndexRefresh(index), HTSUCCESS);
  EXPECT_EQ(walk(index, 2).size(), 300u);
}

TEST_P(OutlineTest, DamagedSummariesAreReadAroundAndDamagedChunksReported) {
  const HTID kept = view("Kept", "", categorised());
  documents(200);
  const HTID built = view("Built", "", categorised());
  const auto expected = walk(open(kept), 7);
  auto write = [&](const char* sql, const std::string& bytes) {
    auto d = database(db_);
    auto lock = d->lock();
    d->conn().prepare(sql)->bind(1, int64_t(built)).bindBlob(2, bytes.data(), bytes.size()).run();
  };
  // A summary cut short: the view is read whole, as before summaries were kept.
  std::string summary;
  {
    auto d = database(db_);
    auto lock = d->lock();
    auto st = d->conn().prepare("SELECT summary FROM view_base_summaries WHERE view_id = ?1 AND chunk = 1");
    st->bind(1, int64_t(built));
    ASSERT_TRUE(st->step());
    summary = std::string(st->blobView(0));
  }
  write("UPDATE view_base_summaries SET summary = ?2 WHERE view_id = ?1 AND chunk = 1",
        summary.substr(0, summary.size() - 3));
  EXPECT_FALSE(snapshot(built)->readsOnDemand());
  {
    HTINDEXHANDLE index = 0;
    ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    ASSERT_EQ(HTIndexOpenViewFolder(index, 0, built, 0), HTSUCCESS);
    EXPECT_EQ(walk(index, 7), expected);
    HTIndexClose(index);  // nothing keeps that snapshot cached
  }

  // A chunk holding fewer entries than its summary counts.
  {
    auto d = database(db_);
    auto lock = d->lock();
    store::Transaction tx(d->conn());
    view::rebuild(*d, d->conn(), *view::designOf(*d, d->conn(), built));
    tx.commit();
  }
  ASSERT_TRUE(snapshot(built)->readsOnDemand());
  const uint8_t empty[] = {0x01, 0, 0, 0, 0};
  write("UPDATE view_base_chunks SET entries = ?2 WHERE view_id = ?1 AND chunk = 0",
        std::string(reinterpret_cast<const char*>(empty), sizeof empty));
  HTINDEXHANDLE index = open(built);
  HTID note = 0;
  HTUINT flags = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &flags), HTSUCCESS);  // a category: no chunk read
  EXPECT_EQ(note, HTNOTEID_CATEGORY);
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, HTNAVFLAG_DOCUMENTS, &note, &flags), HTFAIL_STORAGE_ERROR);
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("damaged"), std::string::npos);
}

// Summaries are read from the file: every cut and every flipped count decodes as damaged or
// as a summary whose counts add up, never past its bytes.
TEST(BaseSummaryCodec, CutOrCorruptSummariesDecodeSafely) {
  view::BaseSummary s;
  s.levels = 2;
  s.totalColumns = {3, 4};
  s.entries = 5;
  s.flags = view::BaseSummary::kHasReaders;
  s.keyTypes = {4, 4, 1};
  s.firstKey = std::string("\x30key\0", 5);
  s.runs.push_back({2, {"a", "b"}, {1.5, -2}});
  s.runs.push_back({3, {"a", "c"}, {0, 1e300}});
  const std::string bytes = s.encode();
  view::BaseSummary back;
  ASSERT_TRUE(view::BaseSummary::decode(bytes, back));
  EXPECT_EQ(back.encode(), bytes);
  EXPECT_EQ(back.runs[1].path[1], "c");
  EXPECT_EQ(back.runs[1].sums[1], 1e300);
  for (size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_FALSE(view::BaseSummary::decode(bytes.substr(0, cut), back));
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::string damaged = bytes;
    damaged[at] = char(0xFF);
    if (view::BaseSummary::decode(damaged, back)) {
      uint64_t counted = 0;
      for (const auto& run : back.runs) counted += run.entries;
      EXPECT_EQ(counted, back.entries);
    }
  }
}

}  // namespace

QUIRE_BOTH_BACKENDS(OutlineTest);

}  // namespace quire::engine::test
