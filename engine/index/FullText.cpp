#include "engine/core/Progress.h"
#include "engine/index/FullText.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/db/ServerSecurity.h"
#include "engine/doc/NoteEvents.h"
#include "engine/ftquery/FtQuery.h"
#include "engine/index/NoteContext.h"
#include "engine/index/SummaryCache.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/ManyRows.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::index::fulltext {
namespace {

using ftquery::ItemText;

// The index table appears and disappears with HTDatabaseCreateFTIndex/DeleteFTIndex; the
// part only records the layout version so a later layout can convert old files.
const bool kSchemaRegistered = store::registerSchemaPart({"fulltext", 1, [](store::Connection&, int) {}});

static_assert(ftquery::kMaxQueryBytes == HT_MAX_FTQUERY_BYTES);

bool validUtf8(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const uint8_t c = p[i];
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    if (len == 2 && c < 0xC2) return false;  // overlong
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = s[s.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// The text of an HTML page: tags dropped (a tag separates words), the common entities read.
std::string htmlText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      size_t end = html.find('>', i);
      out += ' ';
      if (end == std::string_view::npos) break;
      i = end + 1;
    } else if (c == '&') {
      size_t end = html.find(';', i);
      std::string_view ent = end == std::string_view::npos || end - i > 10 ? std::string_view() : html.substr(i + 1, end - i - 1);
      if (ent == "amp") out += '&';
      else if (ent == "lt") out += '<';
      else if (ent == "gt") out += '>';
      else if (ent == "quot") out += '"';
      else if (ent == "apos") out += '\'';
      else if (ent == "nbsp") out += ' ';
      else if (!ent.empty() && ent[0] == '#') out += ' ';  // numeric: a separator is enough
      else {
        out += '&';
        ++i;
        continue;
      }
      i = end + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

// The texts of the items the index holds.
void itemTexts(const std::vector<store::StoredItem>& items, std::vector<ItemText>& out) {
  for (const auto& item : items) {
    if (item.name.empty() || item.name[0] == '$' || (item.flags & kItemEncrypted)) continue;
    ItemText t;
    t.name = item.name;
    switch (item.type) {
      case HTTYPE_TEXT:
        t.values.emplace_back(item.value.begin(), item.value.end());
        break;
      case HTTYPE_TEXT_LIST:
        if (!store::codec::decodeTextList(item.value, t.values)) continue;
        break;
      case HTTYPE_NUMBER: {
        double d = 0;
        if (!store::codec::decodeNumber(item.value, d)) continue;
        t.values.push_back(numberText(d));
        break;
      }
      case HTTYPE_NUMBER_LIST: {
        std::vector<double> list;
        if (!store::codec::decodeNumberList(item.value, list)) continue;
        for (double d : list) t.values.push_back(numberText(d));
        break;
      }
      case HTTYPE_COMPOSITE: {
        std::string text;
        if (!compositePlainText(item.value.data(), item.value.size(), text)) continue;
        t.values.push_back(std::move(text));
        break;
      }
      default:
        continue;
    }
    out.push_back(std::move(t));
  }
}

// The text attachments of a note, appended as items "$file:<name>".
void attachmentTexts(store::Connection& conn, HTID note, std::vector<ItemText>& out) {
  // Sealed files (of encrypted notes) stay out: their words would tell what they hold.
  auto st = conn.prepare(
      "SELECT name, bytes FROM attachments WHERE note_id = ?1 AND size <= ?2 AND sealed = 0 ORDER BY attachment_id");
  st->bind(1, int64_t(note)).bind(2, int64_t(kMaxAttachmentText));
  while (st->step()) {
    const std::string name = st->text(0);
    const store::Blob bytes = st->blob(1);
    if (bytes.size() > kMaxAttachmentText || !validUtf8(bytes.data(), bytes.size())) continue;
    std::string text(bytes.begin(), bytes.end());
    if (endsWithNoCase(name, ".html") || endsWithNoCase(name, ".htm")) text = htmlText(text);
    out.push_back(ItemText{"$file:" + name, {std::move(text)}});
  }
}

bool tableExists(store::Connection& conn) { return store::tableExists(conn, kTable); }

bool onPostgres(store::Connection& conn) { return conn.dialect() == store::Dialect::Postgres; }

// The column holding the note ID: FTS5's rowid, or a plain column on PostgreSQL.
std::string keyColumn(store::Connection& conn) { return onPostgres(conn) ? "note_id" : "rowid"; }

void deleteRow(store::Connection& conn, HTID note) {
  conn.prepare(std::string("DELETE FROM ") + kTable + " WHERE " + keyColumn(conn) + " = ?1")
      ->bind(1, int64_t(note))
      .run();
}

size_t textBytes(const std::vector<ItemText>& texts) {
  size_t n = 0;
  for (const auto& t : texts)
    for (const auto& v : t.values) n += v.size();
  return n;
}

// `replace` false when the table is known to hold no row for the note (it was just made).
void writeRow(store::Connection& conn, HTID note, const std::vector<ItemText>& texts, bool replace = true) {
  if (replace) deleteRow(conn, note);
  if (onPostgres(conn)) {
    const ftquery::PgRow row = ftquery::pgVectors(texts);
    auto st = conn.prepare(std::string("INSERT INTO ") + kTable +
                           "(note_id, body, fields, verify) VALUES(?1, ?2::text::tsvector, ?3::text::tsvector, ?4)");
    st->bind(1, int64_t(note));
    if (row.verify) {
      st->bindNull(2).bindNull(3).bind(4, int64_t(1));
    } else {
      st->bind(2, row.body).bind(3, row.fields).bind(4, int64_t(0));
    }
    st->run();
    return;
  }
  const ftquery::FtsRow row = ftquery::buildFtsRow(texts);
  conn.prepare(std::string("INSERT INTO ") + kTable + "(rowid, body, fields) VALUES(?1, ?2, ?3)")
      ->bind(1, int64_t(note))
      .bind(2, row.body)
      .bind(3, row.fields)
      .run();
}

// Every live document with all its items, in note ID order (one pass over the items).
template <typename Visit>
void forEachDocumentText(store::Connection& conn, Visit visit) {
  std::unordered_set<HTID> withFiles;
  {
    auto st = conn.prepare("SELECT DISTINCT note_id FROM attachments");
    while (st->step()) withFiles.insert(HTID(st->int64(0)));
  }
  auto st = conn.prepare(
      "SELECT note_id, modified, items FROM notes WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id");
  store::manyRows(*st).bind(1, int64_t(store::note_class::kDocument));
  std::vector<store::StoredItem> items;
  while (st->step()) {
    const HTID id = HTID(st->int64(0));
    const store::Blob record = st->blob(2);
    if (!store::decodeItems(record, items))
      raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, id));
    std::vector<ItemText> texts;
    itemTexts(items, texts);
    if (withFiles.count(id)) attachmentTexts(conn, id, texts);
    visit(id, st->int64(1), texts);
  }
}

// Scores on 1..100 relative to the best hit.
void scale(std::vector<Hit>& hits, const std::vector<double>& raw) {
  double best = 0;
  for (double r : raw) best = std::max(best, r);
  for (size_t k = 0; k < hits.size(); ++k) {
    double s = best > 0 ? 100.0 * raw[k] / best : 100.0;
    hits[k].score = uint32_t(std::clamp(std::lround(s), 1L, 100L));
  }
}

HTSTATUS parse(std::string_view query, std::optional<ftquery::Query>& out) {
  auto parsed = ftquery::Query::parse(query);
  if (!parsed) return fail(HTFAIL_FTQUERY_SYNTAX, parsed.error().message);
  out.emplace(std::move(parsed).value());
  return HTSUCCESS;
}

// The observer: keep rows current inside the writing transaction.
void onSaved(db::Database&, store::Connection& conn, const doc::SavedNote& note) {
  if (note.header.noteClass != store::note_class::kDocument || !indexed(conn)) return;
  if (note.header.deleted) {
    deleteRow(conn, note.header.id);
    return;
  }
  std::vector<ItemText> texts;
  itemTexts(note.items, texts);
  attachmentTexts(conn, note.header.id, texts);
  writeRow(conn, note.header.id, texts);
}

void onDeleted(db::Database&, store::Connection& conn, const store::NoteHeader& header) {
  if (!indexed(conn)) return;
  deleteRow(conn, header.id);
}

const bool kObserverRegistered = doc::registerNoteObserver({"fulltext", &onSaved, &onDeleted});

}  // namespace

bool indexed(store::Connection& conn) { return store::prop::getInt(conn, store::prop::kFtIndexed, 0) != 0; }

HTSTATUS create(db::Database& database, bool rebuild, HTFTSTATS* stats) {
  (void)kSchemaRegistered;
  (void)kObserverRegistered;
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  store::Transaction tx(conn);
  std::unordered_set<HTID> before;
  if (tableExists(conn)) {
    auto st = conn.prepare("SELECT " + keyColumn(conn) + " FROM " + kTable);
    while (st->step()) before.insert(HTID(st->int64(0)));
    conn.exec(std::string("DROP TABLE ") + kTable);
  }
  (void)rebuild;  // an existing index is rebuilt either way: see FullText.h
  conn.exec(onPostgres(conn) ? ftquery::pgCreateTableSql(kTable) : ftquery::ftsCreateTableSql(kTable));
  db::security::grantIndexTable(conn, kTable);
  HTFTSTATS s{};
  uint64_t bytes = 0;
  uint64_t documents = 0;
  if (progress::wanted()) {
    auto count = conn.prepare("SELECT count(*) FROM notes WHERE note_class = ?1 AND deleted = 0");
    count->bind(1, int64_t(store::note_class::kDocument));
    if (count->step()) documents = uint64_t(count->int64(0));
  }
  progress::Task task("full-text index", documents);
  forEachDocumentText(conn, [&](HTID note, int64_t, const std::vector<ItemText>& texts) {
    task.advance();
    writeRow(conn, note, texts, false);
    ++s.documentsIndexed;
    bytes += textBytes(texts);
    before.erase(note);
  });
  s.documentsDeleted = uint32_t(before.size());
  s.bytesIndexed = uint32_t(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
  store::prop::set(conn, store::prop::kFtIndexed, int64_t(1));
  store::prop::set(conn, store::prop::kFtLastIndexed, dt::pack(dt::now()));
  tx.commit();
  if (stats) *stats = s;
  return HTSUCCESS;
}

HTSTATUS drop(db::Database& database) {
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  store::Transaction tx(conn);
  if (tableExists(conn)) conn.exec(std::string("DROP TABLE ") + kTable);
  store::prop::set(conn, store::prop::kFtIndexed, int64_t(0));
  tx.commit();
  return HTSUCCESS;
}

namespace {

// Documents the reader may not read: from the summary cache when the caller has the shared
// database, else straight from the items.
std::unordered_set<HTID> unreadableFor(db::Database& database, const std::shared_ptr<db::Database>* shared,
                                       const ReadAccess& reader) {
  if (!reader.restricted()) return {};
  if (shared == nullptr) return reader.unreadable(database.conn());
  auto cache = SummaryCache::of(*shared);
  cache->sync(database.conn());
  return reader.unreadable(cache->access(database.conn()));
}

HTSTATUS scanImpl(db::Database& database, const std::shared_ptr<db::Database>* shared, const ReadAccess& reader,
                  std::string_view query, const std::unordered_set<HTID>* within, std::vector<Hit>& out) {
  out.clear();
  std::optional<ftquery::Query> parsed;
  if (HTSTATUS s = parse(query, parsed)) return s;
  // Relevance without an index: how often the query's words occur.
  const std::vector<std::string> words = ftquery::tokenize(query);
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  store::ReadSnapshot snapshot(conn);  // who may read what, and the texts, of one state
  const std::unordered_set<HTID> unreadable = unreadableFor(database, shared, reader);
  std::vector<double> raw;
  forEachDocumentText(conn, [&](HTID note, int64_t modified, const std::vector<ItemText>& texts) {
    if (unreadable.count(note) || (within && !within->count(note))) return;
    const ftquery::TokenizedDocument doc(texts);
    if (!parsed->matches(doc)) return;
    double tf = 0;
    for (const auto& w : words) tf += double(doc.countStartingWith(w));
    out.push_back(Hit{note, 0, modified});
    raw.push_back(tf / std::sqrt(double(doc.body().size()) + 1.0) + 1e-9);
  });
  scale(out, raw);
  return HTSUCCESS;
}

// The texts of one live document, or false when it is gone.
bool documentText(store::Connection& conn, HTID note, std::vector<ItemText>& texts) {
  auto st = conn.prepare("SELECT items FROM notes WHERE note_id = ?1 AND note_class = ?2 AND deleted = 0");
  st->bind(1, int64_t(note)).bind(2, int64_t(store::note_class::kDocument));
  if (!st->step()) return false;
  std::vector<store::StoredItem> items;
  if (!store::decodeItems(st->blob(0), items)) raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, note));
  texts.clear();
  itemTexts(items, texts);
  attachmentTexts(conn, note, texts);
  return true;
}

// The index on PostgreSQL: the GIN indexes find the documents, ts_rank scores them, and the
// few documents too large for a tsvector are matched here.
void searchPostgres(store::Connection& conn, const ftquery::Query& query, const std::unordered_set<HTID>& unreadable,
                    const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill) {
  const ftquery::PgMatch match = query.pgMatch(1);
  std::vector<std::string> params = match.queries;
  std::string rank = "0";
  if (fill & kScores) {
    rank.clear();
    for (const auto& [column, tsquery] : {std::pair{"f.body", &match.bodyRank}, std::pair{"f.fields", &match.fieldsRank}}) {
      if (tsquery->empty()) continue;
      params.push_back(*tsquery);
      if (!rank.empty()) rank += " + ";
      rank += std::string("COALESCE(ts_rank(") + column + ", ?" + std::to_string(params.size()) + "::text::tsquery), 0)";
    }
    if (rank.empty()) rank = "0";
  }
  std::string sql = "SELECT f.note_id, " + rank + ", " + ((fill & kDates) ? "n.modified" : "0") + ", f.verify FROM " +
                    kTable + " f";
  if (fill & kDates) sql += " JOIN notes n ON n.note_id = f.note_id";
  sql += " WHERE " + match.condition + " OR f.verify <> 0 ORDER BY f.note_id";
  auto st = conn.prepare(sql);
  for (size_t k = 0; k < params.size(); ++k) st->bind(int(k + 1), params[k]);
  struct Row {
    Hit hit;
    double raw;
    bool verify;
  };
  std::vector<Row> rows;
  while (st->step()) {
    const HTID note = HTID(st->int64(0));
    if ((!unreadable.empty() && unreadable.count(note)) || (within && !within->count(note))) continue;
    rows.push_back(Row{Hit{note, 0, st->int64(2)}, st->real(1), st->int64(3) != 0});
  }
  st.reset();
  std::vector<double> raw;
  std::vector<ItemText> texts;
  for (const Row& row : rows) {
    // Matched by the query itself; their score is the lowest, as ts_rank cannot weigh them.
    if (row.verify && (!documentText(conn, row.hit.note, texts) || !query.matches(texts))) continue;
    out.push_back(row.hit);
    raw.push_back(row.verify ? 0.0 : row.raw);
  }
  if (fill & kScores) scale(out, raw);
}

HTSTATUS searchImpl(db::Database& database, const std::shared_ptr<db::Database>* shared, const ReadAccess& reader,
                    std::string_view query, const std::unordered_set<HTID>* within, std::vector<Hit>& out,
                    unsigned fill) {
  out.clear();
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  // The index, who may read what and the texts of the documents the index cannot weigh, of
  // one state: read apart, a document whose Readers item changed in between could be found
  // for a reader it no longer admits.
  store::ReadSnapshot snapshot(conn);
  if (!indexed(conn) || !tableExists(conn)) return scanImpl(database, shared, reader, query, within, out);
  std::optional<ftquery::Query> parsed;
  if (HTSTATUS s = parse(query, parsed)) return s;
  const std::unordered_set<HTID> unreadable = unreadableFor(database, shared, reader);
  if (onPostgres(conn)) {
    searchPostgres(conn, *parsed, unreadable, within, out, fill);
    return HTSUCCESS;
  }
  // Deleted documents leave the index in the transaction that deletes them, so the index
  // alone answers; the notes table is joined only for dates.
  std::string sql = "SELECT f.rowid";
  sql += (fill & kScores) ? std::string(", bm25(") + kTable + ")" : std::string(", 0");
  sql += (fill & kDates) ? ", n.modified" : ", 0";
  sql += std::string(" FROM ") + kTable + " f";
  if (fill & kDates) sql += " JOIN notes n ON n.note_id = f.rowid";
  sql += std::string(" WHERE ") + kTable + " MATCH ?1 ORDER BY f.rowid";
  auto st = conn.prepare(sql);
  st->bind(1, parsed->ftsMatch());
  std::vector<double> raw;
  while (st->step()) {
    const HTID note = HTID(st->int64(0));
    if ((!unreadable.empty() && unreadable.count(note)) || (within && !within->count(note))) continue;
    out.push_back(Hit{note, 0, st->int64(2)});
    if (fill & kScores) raw.push_back(-st->real(1));  // bm25: lower is better, and negative
  }
  if (fill & kScores) scale(out, raw);
  return HTSUCCESS;
}

}  // namespace

HTSTATUS scan(const std::shared_ptr<db::Database>& database, const ReadAccess& reader, std::string_view query,
              const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill) {
  (void)fill;  // the scan has scores and dates at hand anyway
  return scanImpl(*database, &database, reader, query, within, out);
}

HTSTATUS search(const std::shared_ptr<db::Database>& database, const ReadAccess& reader, std::string_view query,
                const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill) {
  return searchImpl(*database, &database, reader, query, within, out, fill);
}

HTSTATUS search(db::Database& database, const ReadAccess& reader, std::string_view query,
                const std::unordered_set<HTID>* within, std::vector<Hit>& out, unsigned fill) {
  return searchImpl(database, nullptr, reader, query, within, out, fill);
}

HTSTATUS score(const std::shared_ptr<db::Database>& database, std::string_view query, std::vector<Hit>& hits) {
  std::unordered_set<HTID> notes;
  for (const auto& h : hits) notes.insert(h.note);
  std::vector<Hit> scored;
  if (HTSTATUS s = search(database, ReadAccess(), query, &notes, scored, kScores)) return s;
  std::unordered_map<HTID, uint32_t> byNote;
  for (const auto& h : scored) byNote.emplace(h.note, h.score);
  for (auto& h : hits) h.score = byNote.count(h.note) ? byNote[h.note] : 1;
  return HTSUCCESS;
}

unsigned fillFor(HTINT sort) {
  if (sort == HTFTSORT_SCORE_ASCEND || sort == HTFTSORT_SCORE_DESCEND) return kScores;
  if (sort == HTFTSORT_DATE_ASCEND || sort == HTFTSORT_DATE_DESCEND) return kDates;
  return 0;
}

HTSTATUS order(std::vector<Hit>& hits, HTINT sort, HTUINT maxDocs) {
  switch (sort) {
    case HTFTSORT_NONE:
      break;
    case HTFTSORT_SCORE_DESCEND:
      std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.score > b.score; });
      break;
    case HTFTSORT_SCORE_ASCEND:
      std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.score < b.score; });
      break;
    case HTFTSORT_DATE_DESCEND:
      std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.modified > b.modified; });
      break;
    case HTFTSORT_DATE_ASCEND:
      std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.modified < b.modified; });
      break;
    default:
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown full-text sort order " + std::to_string(sort));
  }
  if (maxDocs != 0 && hits.size() > maxDocs) hits.resize(maxDocs);
  return HTSUCCESS;
}

}  // namespace quire::engine::index::fulltext
