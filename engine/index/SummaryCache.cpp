#include "engine/index/SummaryCache.h"

#include <algorithm>
#include <mutex>

#include "engine/core/Engine.h"
#include "engine/formula/Collation.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/ManyRows.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::index {
namespace {

// Past this many changed notes (and an eighth of the documents) a reload is cheaper than
// re-reading them one by one.
constexpr size_t kReloadAfter = 2000;

struct Entry {
  std::weak_ptr<db::Database> database;
  std::shared_ptr<SummaryCache> cache;
};

std::mutex gMutex;
// Never destroyed: HTTerm, which clears it, may run from the host's exit handler after the
// destructors of statics made later than that handler was registered.
std::unordered_map<uint32_t, Entry>& registry() {
  static auto* r = new std::unordered_map<uint32_t, Entry>;
  return *r;
}

const bool kStopHook = [] {
  onStop([] {
    std::lock_guard lock(gMutex);
    registry().clear();
  });
  return true;
}();

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void readRow(store::Statement& st, DocRow& row) {
  row.id = HTID(st.int64(0));
  row.unid = store::unidFromBlob(st.blob(1));
  row.response = !st.isNull(2);
  row.created = st.int64(3);
  row.modified = st.int64(4);
}

constexpr const char* kRowColumns = "note_id, unid, parent_unid, created, modified";

std::vector<std::string> listedNames(HTINT type, const store::Blob& value) {
  std::vector<std::string> out;
  if (type == HTTYPE_TEXT) out.emplace_back(value.begin(), value.end());
  else if (type == HTTYPE_TEXT_LIST) store::codec::decodeTextList(value, out);
  return out;
}

bool blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

enum class Lookup { Found, Absent, Damaged };

// The item of that name in a note's record. A damaged record is told apart from one without
// the item: taken for that, its document would silently drop out of (or into) a selection.
Lookup findIn(const store::Blob& record, std::string_view name, store::ItemRef& out) {
  bool found = false;
  const bool whole = store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& ref) {
    if (!store::sameItemName(ref.name, name)) return true;
    out = ref;
    found = true;
    return false;
  });
  return found ? Lookup::Found : whole ? Lookup::Absent : Lookup::Damaged;
}

// The names a note's Readers and Authors items list; false when it lists none. A damaged
// record counts as restricted to nobody, so its document is not shown for want of a name.
bool collectAccess(const store::Blob& record, AccessNames& a) {
  bool any = false;
  const bool whole = store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& item) {
    if (!(item.flags & (kItemReaders | kItemAuthors))) return true;
    for (auto& n : listedNames(item.type, store::Blob(item.value, item.value + item.size))) {
      if (blank(n)) continue;
      any = true;
      if (item.flags & kItemReaders) a.hasReaders = true;
      a.names.push_back(std::move(n));
    }
    return true;
  });
  if (!whole) {
    a.hasReaders = true;
    a.names.clear();
    return true;
  }
  return any;
}

}  // namespace

std::shared_ptr<SummaryCache> SummaryCache::of(const std::shared_ptr<db::Database>& database) {
  (void)kStopHook;
  std::lock_guard lock(gMutex);
  auto& r = registry();
  for (auto it = r.begin(); it != r.end();) {
    if (it->second.database.expired()) it = r.erase(it);
    else ++it;
  }
  Entry& e = r[database->serial()];
  if (!e.cache || e.database.lock() != database) {
    e.database = database;
    e.cache = std::make_shared<SummaryCache>();
  }
  return e.cache;
}

size_t SummaryCache::rowOf(HTID id) const {
  auto it = std::lower_bound(docs_.begin(), docs_.end(), id, [](const DocRow& r, HTID v) { return r.id < v; });
  return it != docs_.end() && it->id == id ? size_t(it - docs_.begin()) : docs_.size();
}

void SummaryCache::reload(store::Connection& conn) {
  docs_.clear();
  columns_.clear();
  byName_.clear();
  damaged_.clear();
  access_.clear();
  accessLoaded_ = false;
  auto st = conn.prepare(std::string("SELECT ") + kRowColumns +
                         " FROM notes WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id");
  store::manyRows(*st).bind(1, int64_t(store::note_class::kDocument));
  while (st->step()) {
    DocRow row;
    readRow(*st, row);
    docs_.push_back(row);
  }
  loaded_ = true;
}

void SummaryCache::sync(store::Connection& conn) {
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  // What a search inside a writer's transaction sees may be rolled back, and a later change
  // would then take the same numbers again: such a state is used once and then forgotten.
  const bool provisional = store::inTransaction(conn);
  if (loaded_ && counter == seen_ && !provisional_ && !provisional) return;
  if (!loaded_ || provisional_ || counter < seen_) {
    reload(conn);
  } else {
    const std::vector<HTID> changed = store::changedSince(conn, seen_);
    if (changed.size() > kReloadAfter && changed.size() > docs_.size() / 8) {
      reload(conn);
    } else {
      for (HTID id : changed) refresh(conn, id);
    }
  }
  seen_ = counter;
  provisional_ = provisional;
}

void SummaryCache::refresh(store::Connection& conn, HTID id) {
  auto st = conn.prepare(std::string("SELECT ") + kRowColumns +
                         " FROM notes WHERE note_id = ?1 AND note_class = ?2 AND deleted = 0");
  st->bind(1, int64_t(id)).bind(2, int64_t(store::note_class::kDocument));
  size_t row = rowOf(id);
  damaged_.erase(id);
  if (!st->step()) {
    // Deleted, purged, or not a document: drop it.
    if (row == docs_.size()) return;
    docs_.erase(docs_.begin() + ptrdiff_t(row));
    for (auto& c : columns_) {
      c->values.erase(c->values.begin() + ptrdiff_t(row));
      c->present.erase(c->present.begin() + ptrdiff_t(row));
      if (c->compiled) {
        c->garbage += c->cells[row].end - c->cells[row].begin;
        c->cells.erase(c->cells.begin() + ptrdiff_t(row));
      }
    }
    access_.erase(id);
    return;
  }
  DocRow fresh;
  readRow(*st, fresh);
  if (row == docs_.size()) {
    auto it = std::lower_bound(docs_.begin(), docs_.end(), id, [](const DocRow& r, HTID v) { return r.id < v; });
    row = size_t(it - docs_.begin());
    docs_.insert(it, fresh);
    for (auto& c : columns_) {
      c->values.insert(c->values.begin() + ptrdiff_t(row), formula::Value());
      c->present.insert(c->present.begin() + ptrdiff_t(row), 0);
      if (c->compiled) c->cells.insert(c->cells.begin() + ptrdiff_t(row), Column::Cell{});
    }
  } else {
    docs_[row] = fresh;
  }
  if (!columns_.empty()) {
    auto st = conn.prepare("SELECT items FROM notes WHERE note_id = ?1");
    st->bind(1, int64_t(id));
    const store::Blob record = st->step() ? st->blob(0) : store::Blob();
    for (auto& c : columns_) {
      formula::Value v;
      store::ItemRef ref;
      const Lookup found = findIn(record, c->name, ref);
      if (found == Lookup::Damaged) damaged_.insert(id);
      const bool present = found == Lookup::Found;
      if (present && !NoteContext::decode(ref.type, ref.value, ref.size, v)) v = formula::Value();
      c->values[row] = std::move(v);
      c->present[row] = present ? 1 : 0;
      if (c->compiled) setCell(*c, row);
    }
  }
  if (accessLoaded_) readAccess(conn, id);
}

SummaryCache::Column* SummaryCache::column(store::Connection& conn, std::string_view name) {
  if (!isAscii(name)) return nullptr;
  const std::string key = foldName(name);
  if (auto it = byName_.find(key); it != byName_.end()) return it->second;
  auto c = std::make_unique<Column>();
  c->name = std::string(name);
  loadColumn(conn, *c);
  Column* raw = c.get();
  columns_.push_back(std::move(c));
  byName_.emplace(key, raw);
  return raw;
}

void SummaryCache::loadColumn(store::Connection& conn, Column& c) {
  c.values.assign(docs_.size(), formula::Value());
  c.present.assign(docs_.size(), 0);
  // One pass over the documents' item records, in note order like docs_.
  auto st = conn.prepare("SELECT note_id, items FROM notes WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id");
  store::manyRows(*st).bind(1, int64_t(store::note_class::kDocument));
  size_t row = 0;
  while (st->step()) {
    const HTID id = HTID(st->int64(0));
    while (row < docs_.size() && docs_[row].id < id) ++row;
    if (row == docs_.size()) break;
    if (docs_[row].id != id) continue;
    const store::Blob record = st->blob(1);
    store::ItemRef ref;
    const Lookup found = findIn(record, c.name, ref);
    if (found == Lookup::Damaged) damaged_.insert(id);
    if (found != Lookup::Found) continue;
    c.present[row] = 1;
    if (!NoteContext::decode(ref.type, ref.value, ref.size, c.values[row])) c.values[row] = formula::Value();
  }
}

void SummaryCache::setCell(Column& c, size_t row) {
  Column::Cell& cell = c.cells[row];
  c.garbage += cell.end - cell.begin;
  const formula::Value& v = c.values[row];
  cell.type = uint8_t(v.type());
  switch (v.type()) {
    case formula::ValueType::Text:
      cell.begin = uint32_t(c.keys.size());
      for (const auto& t : v.texts()) c.keys.push_back(formula::collationKey(t));
      cell.end = uint32_t(c.keys.size());
      break;
    case formula::ValueType::Number:
      cell.begin = uint32_t(c.numbers.size());
      c.numbers.insert(c.numbers.end(), v.numbers().begin(), v.numbers().end());
      cell.end = uint32_t(c.numbers.size());
      break;
    case formula::ValueType::DateTime:
      cell.begin = cell.end = 0;  // fast selections do not compare date-times
      break;
  }
  // Replaced values leave their old elements behind; rebuild once they dominate.
  if (c.garbage > 4096 && c.garbage > (c.keys.size() + c.numbers.size()) / 2) {
    c.compiled = false;
    compile(c);
  }
}

void SummaryCache::compile(Column& c) {
  if (c.compiled) return;
  c.cells.assign(c.values.size(), Column::Cell{});
  c.keys.clear();
  c.numbers.clear();
  c.garbage = 0;
  c.compiled = true;
  for (size_t row = 0; row < c.values.size(); ++row) setCell(c, row);
  c.garbage = 0;
}

void SummaryCache::readAccess(store::Connection& conn, HTID id) {
  access_.erase(id);
  auto st = conn.prepare("SELECT items FROM notes WHERE note_id = ?1 AND (item_flags & ?2) != 0");
  st->bind(1, int64_t(id)).bind(2, int64_t(kItemReaders | kItemAuthors));
  AccessNames a;
  bool any = false;
  if (st->step()) {
    const store::Blob record = st->blob(0);
    any = collectAccess(record, a);
  }
  if (any) access_.emplace(id, std::move(a));
}

const std::unordered_map<HTID, AccessNames>& SummaryCache::access(store::Connection& conn) {
  if (accessLoaded_) return access_;
  access_.clear();
  auto st = conn.prepare(
      "SELECT note_id, items FROM notes WHERE (item_flags & ?1) != 0 AND note_class = ?2 AND deleted = 0");
  st->bind(1, int64_t(kItemReaders | kItemAuthors)).bind(2, int64_t(store::note_class::kDocument));
  while (st->step()) {
    const store::Blob record = st->blob(1);
    AccessNames a;
    if (collectAccess(record, a)) access_.emplace(HTID(st->int64(0)), std::move(a));
  }
  accessLoaded_ = true;
  return access_;
}

}  // namespace quire::engine::index
