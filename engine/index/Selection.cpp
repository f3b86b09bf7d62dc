#include "engine/index/Selection.h"

#include <algorithm>

#include "engine/core/Status.h"
#include "engine/index/FastSelect.h"
#include "engine/index/SummaryCache.h"
#include "engine/store/NoteStore.h"

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

  // Item names SQLite can match without regard to case (NOCASE folds ASCII only); other
  // names are left to the context's lazy look-up.
  std::vector<std::string> covered;
  for (const auto& name : preload) {
    if (!isAscii(name)) continue;
    std::string folded = foldName(name);
    if (std::find(covered.begin(), covered.end(), folded) == covered.end()) covered.push_back(std::move(folded));
  }

  std::string sql =
      "SELECT n.note_id, n.unid, n.parent_unid, n.created, n.modified, n.form, n.sequence";
  if (covered.empty()) {
    sql += " FROM notes n WHERE n.note_class = ?1 AND n.deleted = 0 ORDER BY n.note_id";
  } else {
    sql += ", i.ordinal, i.name, i.type, i.flags, i.value FROM notes n LEFT JOIN items i ON i.note_id = n.note_id "
           "AND i.name COLLATE NOCASE IN (";
    for (size_t k = 0; k < covered.size(); ++k) sql += (k ? ", ?" : "?") + std::to_string(k + 2);
    sql += ") WHERE n.note_class = ?1 AND n.deleted = 0 ORDER BY n.note_id";
  }
  auto st = conn.prepare(sql);
  st->bind(1, int64_t(store::note_class::kDocument));
  for (size_t k = 0; k < covered.size(); ++k) st->bind(int(k + 2), covered[k]);

  NoteContext context;
  store::NoteHeader header;
  std::vector<store::StoredItem> items;
  std::vector<int64_t> ordinals;
  bool pending = false;

  auto flush = [&]() -> bool {
    if (!pending) return true;
    pending = false;
    if (unreadable.count(header.id)) return true;
    if (items.size() > 1) {
      // Keep the first item of each name, as a look-up by name would.
      std::vector<size_t> order(items.size());
      for (size_t k = 0; k < order.size(); ++k) order[k] = k;
      std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ordinals[a] < ordinals[b]; });
      std::vector<store::StoredItem> sorted;
      sorted.reserve(items.size());
      for (size_t k : order) sorted.push_back(std::move(items[k]));
      items = std::move(sorted);
    }
    context.bindPartial(conn, header, items, covered);
    return visit(context, header);
  };

  while (st->step()) {
    const HTID id = HTID(st->int64(0));
    if (!pending || id != header.id) {
      if (!flush()) return;
      readHeaderColumns(*st, header);
      items.clear();
      ordinals.clear();
      pending = true;
    }
    if (!covered.empty() && !st->isNull(8)) {
      store::StoredItem item;
      item.name = st->text(8);
      item.type = HTINT(st->int64(9));
      item.flags = uint32_t(st->int64(10));
      item.value = st->blob(11);
      ordinals.push_back(st->int64(7));
      items.push_back(std::move(item));
    }
  }
  flush();
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
