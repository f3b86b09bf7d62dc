#include "engine/index/Selection.h"

#include <algorithm>

#include "engine/core/Status.h"
#include "engine/index/FastSelect.h"
#include "engine/index/SummaryCache.h"
#include "engine/store/Items.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Transaction.h"

namespace quire::engine::index {
namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void readHeaderColumns(store::Statement& st, store::NoteHeader& h) {
  h.id = HTID(st.int64(0));
  h.unid = store::unidFromBlob(st.blob(1));
  if (st.isNull(2)) h.parent.reset(); else h.parent = store::unidFromBlob(st.blob(2));
  h.created = st.int64(3);
  h.modified = st.int64(4);
  h.form = st.text(5);
  h.sequence = st.int64(6);
  h.noteClass = store::note_class::kDocument;
  h.deleted = false;
}

}  // namespace

HTSTATUS compileFormula(std::string_view text, std::optional<formula::Formula>& out) {
  auto compiled = formula::Formula::compile(text);
  if (!compiled) {
    const auto& e = compiled.error();
    const HTSTATUS code = e.kind == formula::ErrorKind::Syntax ? HTFAIL_FORMULA_SYNTAX : HTFAIL_FORMULA_EVAL;
    return fail(code, e.message);
  }
  out.emplace(std::move(compiled).value());
  return HTSUCCESS;
}

void forEachDocument(store::Connection& conn, const ReadAccess& reader, const std::vector<std::string>& preload,
                     const std::function<bool(NoteContext& context, const store::NoteHeader& header)>& visit) {
  const std::unordered_set<HTID> unreadable = reader.unreadable(conn);

  // With names to preload, every document's items come with its row (they are one record)
  // and are bound whole; otherwise fields are read on first reference.
  const bool preloading = !preload.empty();
  std::string sql = "SELECT note_id, unid, parent_unid, created, modified, form, sequence";
  if (preloading) sql += ", items";
  sql += " FROM notes WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id";
  auto st = conn.prepare(sql);
  st->bind(1, int64_t(store::note_class::kDocument));

  NoteContext context;
  store::NoteHeader header;
  std::vector<store::StoredItem> items;
  while (st->step()) {
    readHeaderColumns(*st, header);
    if (unreadable.count(header.id)) continue;
    if (preloading) {
      const store::Blob record = st->blob(7);
      if (!store::decodeItems(record, items))
        raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, header.id));
      context.bind(header, items);
    } else {
      context.bindStored(conn, header);
    }
    if (!visit(context, header)) return;
  }
}

namespace {

// The summary cache's columns as a context's field source.
class CacheFields : public FieldSource {
 public:
  std::vector<std::pair<std::string, SummaryCache::Column*>> columns;  // folded name, column
  size_t row = 0;

  bool lookup(std::string_view name, const formula::Value*& value) override {
    if (!isAscii(name)) return false;
    for (const auto& [folded, column] : columns) {
      if (folded.size() != name.size() || foldName(name) != folded) continue;
      value = column->present[row] ? &column->values[row] : nullptr;
      return true;
    }
    return false;
  }
};

void headerOf(const DocRow& row, store::NoteHeader& h) {
  h.id = row.id;
  h.unid = row.unid;
  if (row.response) h.parent = UNID{};  // the value is not read, only whether there is one
  else h.parent.reset();
  h.created = row.created;
  h.modified = row.modified;
}

}  // namespace

HTSTATUS select(const std::shared_ptr<db::Database>& database, const ReadAccess& reader,
                const formula::Formula& formula, std::vector<HTID>& out) {
  out.clear();
  auto lock = database->lock();
  store::Connection& conn = database->conn();
  // The changes the cache takes in, the columns it loads and the items read for the
  // evaluator, all of one committed state.
  store::ReadSnapshot snapshot(conn);
  auto cache = SummaryCache::of(database);
  cache->sync(conn);
  const std::vector<DocRow>& docs = cache->docs();
  std::unordered_set<HTID> unreadable;
  if (reader.restricted()) unreadable = reader.unreadable(cache->access(conn));

  if (formula.selectsAll()) {
    for (const DocRow& d : docs)
      if (!unreadable.count(d.id)) out.push_back(d.id);
    return HTSUCCESS;
  }

  size_t ran = 0, failed = 0;
  std::string firstError;
  NoteContext context;
  store::NoteHeader header;
  CacheFields fields;
  for (const auto& name : formula.fieldsRead()) {
    if (SummaryCache::Column* c = cache->column(conn, name)) fields.columns.emplace_back(foldName(name), c);
  }
  // The full evaluator for one document: the general path, and the fast path's errors.
  auto evaluateRow = [&](size_t row) {
    fields.row = row;
    headerOf(docs[row], header);
    context.bindSource(conn, header, fields);
    auto r = formula.selects(context);
    if (!r) {
      if (failed++ == 0) firstError = r.error().message;
    } else if (r.value()) {
      out.push_back(docs[row].id);
    }
  };

  const std::unique_ptr<FastSelect> fast = FastSelect::build(formula.text());
  std::vector<SummaryCache::Column*> columns;
  if (fast) {
    for (const auto& name : fast->fields()) {
      SummaryCache::Column* c = cache->column(conn, name);
      cache->compile(*c);
      columns.push_back(c);
    }
  }
  for (HTID id : cache->damaged())
    if (!unreadable.count(id))
      return fail(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, id));
  for (size_t row = 0; row < docs.size(); ++row) {
    if (!unreadable.empty() && unreadable.count(docs[row].id)) continue;
    ++ran;
    if (!fast) {
      evaluateRow(row);
      continue;
    }
    switch (fast->test(row, columns)) {
      case FastSelect::Outcome::Yes: out.push_back(docs[row].id); break;
      case FastSelect::Outcome::No: break;
      case FastSelect::Outcome::Error: evaluateRow(row); break;
    }
  }
  if (ran > 0 && failed == ran) {
    out.clear();
    return fail(HTFAIL_FORMULA_EVAL, firstError);
  }
  return HTSUCCESS;
}

}  // namespace quire::engine::index
