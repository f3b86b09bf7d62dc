// Items kept as one record per note: the record format, damaged records, and files written
// when items had a table of their own.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "EngineFixture.h"
#include "engine/store/Items.h"

namespace quire::engine::test {
namespace {

store::Blob bytes(std::string_view s) { return store::Blob(s.begin(), s.end()); }

TEST(StoreItems, RecordsRoundTripAndFindFirstOfANameWithoutRegardToCase) {
  std::vector<store::StoredItem> items{
      {"Subject", HTTYPE_TEXT, 0, bytes("Hello")},
      {"Empty", HTTYPE_TEXT, 0x0004, {}},
      {"subject", HTTYPE_TEXT, 0, bytes("second of the name")},
      {"Größe", HTTYPE_NUMBER, 0x0400, store::Blob(8, 0x7F)},
      {std::string(255, 'n'), HTTYPE_TEXT_LIST, 0x0020, store::Blob(70000, 0xAB)},
  };
  const store::Blob record = store::encodeItems(items);
  std::vector<store::StoredItem> back;
  ASSERT_TRUE(store::decodeItems(record, back));
  ASSERT_EQ(back.size(), items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    EXPECT_EQ(back[k].name, items[k].name);
    EXPECT_EQ(back[k].type, items[k].type);
    EXPECT_EQ(back[k].flags, items[k].flags);
    EXPECT_EQ(back[k].value, items[k].value);
  }
  store::ItemRef ref;
  ASSERT_TRUE(store::findItem(record, "SUBJECT", ref));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ref.value), ref.size), "Hello");
  ASSERT_TRUE(store::findItem(record, "GRÖßE", ref));
  EXPECT_EQ(ref.flags, 0x0400u);
  EXPECT_FALSE(store::findItem(record, "Subjec", ref));
  EXPECT_EQ(store::itemFlags(items), 0x0400u | 0x0020u | 0x0004u);

  EXPECT_TRUE(store::encodeItems({}).empty());
  EXPECT_TRUE(store::decodeItems(store::Blob(), back));
  EXPECT_TRUE(back.empty());
}

TEST(StoreItems, DamagedRecordsAreReportedNeverReadPast) {
  const store::Blob record = store::encodeItems({{"A", HTTYPE_TEXT, 0, bytes("one")}, {"B", HTTYPE_TEXT, 0, bytes("two")}});
  std::vector<store::StoredItem> out;
  // Every cut short of the whole record is malformed; none reads beyond what it was given
  // (AddressSanitizer watches the copies).
  for (size_t n = 1; n < record.size(); ++n) {
    store::Blob cut(record.begin(), record.begin() + ptrdiff_t(n));
    EXPECT_FALSE(store::decodeItems(cut, out)) << n;
    store::ItemRef ref;
    EXPECT_FALSE(store::findItem(cut, "B", ref)) << n;
  }
  store::Blob foreign = record;
  foreign[0] = 9;  // another format
  EXPECT_FALSE(store::decodeItems(foreign, out));
  store::Blob huge = record;
  huge[1] = huge[2] = huge[3] = huge[4] = 0xFF;  // claims four billion items
  EXPECT_FALSE(store::decodeItems(huge, out));
}

class StoreItemsEngine : public EngineTest {
 protected:
  // Saves a document with the given texts and returns its note ID.
  HTID saveDocument(HTDBHANDLE db, const std::vector<std::pair<const char*, const char*>>& texts) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    for (const auto& [name, value] : texts) EXPECT_EQ(HTItemPut(doc, name, HTTYPE_TEXT, 0, HTTYPE_TEXT, value, 0), HTSUCCESS);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
    HTID id = 0;
    EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id), HTSUCCESS);
    HTDocumentClose(doc, 0);
    return id;
  }

  std::string fetch(HTDBHANDLE db, HTID id, const char* item) {
    HTDOCHANDLE doc = 0;
    if (HTDocumentOpen(db, id, 0, &doc) != HTSUCCESS) return "<no document>";
    char text[256] = {};
    HTUINT length = sizeof text;
    HTINT type = 0, want = HTTYPE_TEXT;
    const HTSTATUS s = HTItemFetch(doc, item, &type, &length, &want, text);
    HTDocumentClose(doc, 0);
    return s == HTSUCCESS ? std::string(text) : "<" + std::to_string(s) + ">";
  }

  void sql(const char* file, const std::string& statements) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((dataDir_ / file).c_str(), &raw), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(raw, statements.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(raw);
  }
};

TEST_F(StoreItemsEngine, AFileWithAnItemTableIsConvertedOnOpenWithNothingLost) {
  HTDBHANDLE db = createAndOpen("old.nsf");
  const HTID first = saveDocument(db, {{"Subject", "kept"}});
  const HTID second = saveDocument(db, {{"Subject", "also kept"}});
  HTDatabaseClose(db, 0);
  // Turn the file back into the earlier layout: items as rows, no record column.
  sql("old.nsf",
      "ALTER TABLE notes DROP COLUMN items; ALTER TABLE notes DROP COLUMN item_flags;"
      "CREATE TABLE items(note_id INTEGER NOT NULL, ordinal INTEGER NOT NULL, name TEXT NOT NULL,"
      " type INTEGER NOT NULL, flags INTEGER NOT NULL DEFAULT 0, value BLOB, PRIMARY KEY(note_id, ordinal));"
      "CREATE INDEX items_by_name ON items(note_id, name COLLATE NOCASE);"
      "INSERT INTO items VALUES(" + std::to_string(first) + ", 0, 'Subject', 2, 0, CAST('from rows' AS BLOB));"
      "INSERT INTO items VALUES(" + std::to_string(first) + ", 1, 'Readers', 2, 1024, CAST('Ann' AS BLOB));"
      "INSERT INTO items VALUES(" + std::to_string(second) + ", 0, 'Body', 2, 0, CAST('second' AS BLOB));"
      "PRAGMA user_version = 1;");
  ASSERT_EQ(HTDatabaseOpen("", "old.nsf", 0, &db), HTSUCCESS);
  EXPECT_EQ(fetch(db, first, "Subject"), "from rows");
  EXPECT_EQ(fetch(db, first, "Readers"), "Ann");
  EXPECT_EQ(fetch(db, second, "Body"), "second");
  HTDatabaseClose(db, 0);

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dataDir_ / "old.nsf").c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT item_flags FROM notes WHERE note_id = ?1", -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_int64(st, 1, first);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int64(st, 0), 1024);  // the Readers flag, so access filters still find it
  sqlite3_finalize(st);
  EXPECT_NE(sqlite3_exec(raw, "SELECT 1 FROM items", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
}

TEST_F(StoreItemsEngine, ADamagedRecordFailsToOpenTheDocumentInsteadOfCrashing) {
  HTDBHANDLE db = createAndOpen("damaged.nsf");
  const HTID good = saveDocument(db, {{"Subject", "fine"}});
  const HTID bad = saveDocument(db, {{"Subject", "soon damaged"}});
  HTDatabaseClose(db, 0);
  sql("damaged.nsf", "UPDATE notes SET items = x'0102000000050041' WHERE note_id = " + std::to_string(bad));
  ASSERT_EQ(HTDatabaseOpen("", "damaged.nsf", 0, &db), HTSUCCESS);
  HTDOCHANDLE doc = 0;
  EXPECT_EQ(HTDocumentOpen(db, bad, 0, &doc), HTFAIL_STORAGE_ERROR);
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("damaged"), std::string::npos);
  EXPECT_EQ(fetch(db, good, "Subject"), "fine");
  HTDatabaseClose(db, 0);
}

}  // namespace
}  // namespace quire::engine::test
