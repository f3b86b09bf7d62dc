#include "engine/view/ViewIndex.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "engine/core/Engine.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/doc/NoteEvents.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"
#include "engine/view/EntryCodec.h"

namespace quire::engine::view {
namespace {

namespace nc = store::note_class;

constexpr const char* kIndexedChange = "view.indexed_change";
// A parent that could not be found when the response was indexed; such a response waits
// until its parent is saved (resolveWaitingResponses) and is not shown meanwhile.
constexpr int64_t kUnresolvedParent = -1;
// A document whose categorised columns hold many values gets one row per combination, up to
// this many, so a pathological document cannot flood a view.
constexpr size_t kMaxEntriesPerNote = 256;

// The entries have no foreign keys to notes: checking two per inserted row costs a third of a
// build, and nothing needs them. Entries leave with their view (drop) and their document
// (observer, catch-up), and note IDs are never reused, so a stray row can never be read as
// another note's.
constexpr const char* kNoteIndex = "CREATE INDEX IF NOT EXISTS view_entries_note ON view_entries(note_id, view_id)";

const bool kSchemaRegistered = store::registerSchemaPart(
    {"view", 1, [](store::Connection& c, int from) {
       if (from < 1) {
         c.exec(R"sql(
CREATE TABLE IF NOT EXISTS view_entries(
  entry_id INTEGER PRIMARY KEY,
  view_id INTEGER NOT NULL,
  sort_key BLOB NOT NULL,
  note_id INTEGER NOT NULL,
  parent_id INTEGER NOT NULL DEFAULT 0,
  cells BLOB NOT NULL,
  readers BLOB
);
CREATE INDEX IF NOT EXISTS view_entries_order ON view_entries(view_id, sort_key, note_id);
)sql");
         c.exec(kNoteIndex);
         c.exec(R"sql(CREATE TABLE IF NOT EXISTS view_meta(
  view_id INTEGER PRIMARY KEY REFERENCES notes(note_id) ON DELETE CASCADE,
  design_sequence INTEGER NOT NULL,
  collation TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS folder_members(
  folder_id INTEGER NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,
  note_id INTEGER NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,
  PRIMARY KEY(folder_id, note_id)
);
CREATE INDEX IF NOT EXISTS folder_members_note ON folder_members(note_id);
)sql");
       }
     }});

// ---- Per-database state ----------------------------------------------------------------

struct StateEntry {
  std::shared_ptr<DatabaseState> state;
  std::map<HTID, std::shared_ptr<const CompiledDesign>> designs;  // under the database lock
};

std::mutex gStatesMutex;
// Never destroyed: HTTerm may run from an exit handler after function statics are gone.
std::unordered_map<uint32_t, StateEntry>& states() {
  static auto* map = new std::unordered_map<uint32_t, StateEntry>;
  return *map;
}

StateEntry& entryOf(const db::Database& database) {
  std::lock_guard lock(gStatesMutex);
  auto& e = states()[database.serial()];
  if (!e.state) e.state = std::make_shared<DatabaseState>();
  return e;
}

const bool kStopHook = [] {
  onStop([] {
    std::lock_guard lock(gStatesMutex);
    states().clear();
  });
  return true;
}();

// ---- Entry computation -------------------------------------------------------------------

struct NewEntry {
  std::string key;
  HTID note = 0;
  int64_t parent = 0;
  std::string cells;
  const store::Blob* readers = nullptr;  // borrowed from the note being indexed
};

formula::Value columnValue(const CompiledColumn& column, index::NoteContext& ctx) {
  if (!column.field.empty()) return ctx.getField(column.field);
  if (!column.formula) return formula::Value();
  auto result = column.formula->evaluate(ctx);
  return result ? std::move(result).value() : formula::Value();
}

bool selected(const CompiledDesign& d, index::NoteContext& ctx) {
  if (!d.selection || d.selection->selectsAll()) return true;
  auto result = d.selection->selects(ctx);
  return result.ok() && result.value();
}

// Key components of texts already seen during a build: values repeat across documents
// (categories above all) and an ICU sort key costs far more than a hash look-up.
class KeyCache {
 public:
  void append(std::string& key, const formula::Value& value, size_t index, bool descending) {
    if (!value.isText() || value.texts()[index].size() > kMaxCachedText) {
      appendKey(key, value, index, descending);
      return;
    }
    std::string& cached = (descending ? descending_ : ascending_)[value.texts()[index]];
    if (cached.empty()) appendKey(cached, value, index, descending);
    key += cached;
  }
  void clear() {
    ascending_.clear();
    descending_.clear();
  }

 private:
  static constexpr size_t kMaxCachedText = 64;
  std::unordered_map<std::string, std::string> ascending_, descending_;
};

void appendComponent(std::string& key, const formula::Value& value, size_t index, bool descending, KeyCache* cache) {
  if (cache) cache->append(key, value, index, descending);
  else appendKey(key, value, index, descending);
}

// The distinct values of a categorised column, each with its key component; an empty value
// gives the one empty category.
std::vector<std::pair<std::string, formula::Value>> categoryChoices(const formula::Value& value, bool descending,
                                                                    KeyCache* cache) {
  std::vector<std::pair<std::string, formula::Value>> out;
  for (size_t i = 0; i < value.size(); ++i) {
    std::string component;
    appendComponent(component, value, i, descending, cache);
    if (std::any_of(out.begin(), out.end(), [&](const auto& c) { return c.first == component; })) continue;
    switch (value.type()) {
      case formula::ValueType::Text: out.emplace_back(std::move(component), formula::Value(value.texts()[i])); break;
      case formula::ValueType::Number: out.emplace_back(std::move(component), formula::Value(value.numbers()[i])); break;
      case formula::ValueType::DateTime: out.emplace_back(std::move(component), formula::Value(value.dateTimes()[i])); break;
    }
  }
  return out;
}

// The rows of one document in one view (the document passed the selection).
void computeEntries(const CompiledDesign& d, index::NoteContext& ctx, HTID note, int64_t parent,
                    const store::Blob* readers, std::vector<NewEntry>& out, KeyCache* cache = nullptr) {
  std::vector<formula::Value> values;
  values.reserve(d.columns.size());
  for (const CompiledColumn& c : d.columns) values.push_back(columnValue(c, ctx));

  std::string sortTail;  // the non-category sorted columns, by their first value
  for (size_t k = d.categoryLevels; k < d.keyColumns.size(); ++k) {
    const CompiledColumn& c = d.columns[d.keyColumns[k]];
    appendComponent(sortTail, values[d.keyColumns[k]], 0, c.design.descending(), cache);
  }

  std::vector<std::vector<std::pair<std::string, formula::Value>>> choices;
  for (size_t k = 0; k < d.categoryLevels; ++k) {
    const size_t col = d.keyColumns[k];
    choices.push_back(categoryChoices(values[col], d.columns[col].design.descending(), cache));
  }
  // Walk the combinations of category values like an odometer.
  std::vector<size_t> pick(choices.size(), 0);
  for (size_t made = 0; made < kMaxEntriesPerNote; ++made) {
    NewEntry e;
    e.note = note;
    e.parent = parent;
    e.readers = readers;
    std::vector<formula::Value> cells = values;
    for (size_t k = 0; k < choices.size(); ++k) {
      e.key += choices[k][pick[k]].first;
      cells[d.keyColumns[k]] = choices[k][pick[k]].second;
    }
    e.key += sortTail;
    e.cells = encodeCells(cells);
    out.push_back(std::move(e));
    size_t k = choices.size();
    while (k > 0) {
      --k;
      if (++pick[k] < choices[k].size()) break;
      pick[k] = 0;
      if (k == 0) return;
    }
    if (choices.empty()) return;
  }
}

// The names that may read a document (its Readers and Authors names) when it has a
// non-empty Readers item; nullopt when everyone may.
std::optional<store::Blob> readerNames(const std::vector<store::StoredItem>& items) {
  bool limited = false;
  std::vector<std::string> names;
  for (const auto& item : items) {
    if (!(item.flags & (index::kItemReaders | index::kItemAuthors))) continue;
    std::vector<std::string> listed;
    if (item.type == HTTYPE_TEXT) {
      std::string text;
      if (store::codec::decodeText(item.value, text)) listed.push_back(std::move(text));
    } else if (item.type == HTTYPE_TEXT_LIST) {
      store::codec::decodeTextList(item.value, listed);
    }
    for (auto& name : listed) {
      if (name.find_first_not_of(" \t") == std::string::npos) continue;
      if (item.flags & index::kItemReaders) limited = true;
      names.push_back(std::move(name));
    }
  }
  if (!limited) return std::nullopt;
  return store::codec::encodeTextList(names);
}

// Items as observers see them: a sealed note's encrypted items hold ciphertext in the table
// and never reach an index.
void dropSealed(std::vector<store::StoredItem>& items) {
  const bool sealed = std::any_of(items.begin(), items.end(), [](const auto& i) { return equalsNoCase(i.name, "$Seal"); });
  if (!sealed) return;
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const auto& i) { return (i.flags & index::kItemEncrypted) != 0; }),
              items.end());
}

void insertEntries(store::Connection& conn, HTID viewId, const std::vector<NewEntry>& entries) {
  if (entries.empty()) return;
  auto st = conn.prepare(
      "INSERT INTO view_entries(view_id, sort_key, note_id, parent_id, cells, readers) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  for (const NewEntry& e : entries) {
    st->reset();
    st->bind(1, int64_t(viewId)).bindBlob(2, e.key.data(), e.key.size()).bind(3, int64_t(e.note)).bind(4, e.parent);
    st->bindBlob(5, e.cells.data(), e.cells.size());
    if (e.readers) st->bindBlob(6, *e.readers); else st->bindNull(6);
    st->run();
  }
}

int64_t parentIdOf(store::Connection& conn, const store::NoteHeader& header) {
  if (!header.parent) return 0;
  // A deleted parent keeps its ID here (its stub keeps the UNID): the response is hidden
  // because the parent has no row, and the entry stays what a rebuild would make.
  auto id = store::findByUnid(conn, *header.parent);
  return id ? int64_t(*id) : kUnresolvedParent;
}

bool isMember(store::Connection& conn, HTID folder, HTID note) {
  auto st = conn.prepare("SELECT 1 FROM folder_members WHERE folder_id = ?1 AND note_id = ?2");
  st->bind(1, int64_t(folder)).bind(2, int64_t(note));
  return st->step();
}

void removeEntriesOf(store::Connection& conn, HTID note) {
  conn.prepare("DELETE FROM view_entries WHERE note_id = ?1")->bind(1, int64_t(note)).run();
}

// Replaces the entries of one live document in every view and folder.
void indexDocument(db::Database& database, store::Connection& conn, const store::NoteHeader& header,
                   const std::vector<store::StoredItem>& items) {
  removeEntriesOf(conn, header.id);
  const auto all = designs(database, conn);
  if (all.empty()) return;
  index::NoteContext ctx;
  ctx.bind(header, items);
  const std::optional<store::Blob> readers = readerNames(items);
  std::optional<int64_t> parent;
  std::vector<NewEntry> entries;
  for (const auto& d : all) {
    if (d->folder ? !isMember(conn, d->id, header.id) : !selected(*d, ctx)) continue;
    int64_t parentId = 0;
    if (d->hierarchical() && header.parent) {
      if (!parent) parent = parentIdOf(conn, header);
      parentId = *parent;
    }
    entries.clear();
    computeEntries(*d, ctx, header.id, parentId, readers ? &*readers : nullptr, entries);
    insertEntries(conn, d->id, entries);
  }
}

// Responses indexed before their parent existed get their place once it is saved.
void resolveWaitingResponses(db::Database& database, store::Connection& conn, const store::NoteHeader& parent) {
  auto st = conn.prepare(
      "SELECT DISTINCT e.note_id FROM view_entries e JOIN notes n ON n.note_id = e.note_id "
      "WHERE n.parent_unid = ?1 AND e.parent_id = ?2");
  st->bindBlob(1, store::unidBlob(parent.unid)).bind(2, kUnresolvedParent);
  std::vector<HTID> waiting;
  while (st->step()) waiting.push_back(HTID(st->int64(0)));
  for (HTID id : waiting) reindexNote(database, conn, id);
}

int64_t countEntries(store::Connection& conn) {
  auto st = conn.prepare("SELECT COUNT(*) FROM view_entries");
  return st->step() ? st->int64(0) : 0;
}

void writeMeta(store::Connection& conn, const CompiledDesign& d) {
  conn.prepare(
          "INSERT INTO view_meta(view_id, design_sequence, collation) VALUES(?1, ?2, ?3) "
          "ON CONFLICT(view_id) DO UPDATE SET design_sequence = excluded.design_sequence, collation = excluded.collation")
      ->bind(1, int64_t(d.id))
      .bind(2, d.sequence)
      .bind(3, collationVersion())
      .run();
}

bool metaCurrent(store::Connection& conn, const CompiledDesign& d) {
  auto st = conn.prepare("SELECT design_sequence, collation FROM view_meta WHERE view_id = ?1");
  st->bind(1, int64_t(d.id));
  return st->step() && st->int64(0) == d.sequence && st->text(1) == collationVersion();
}

void markIndexed(store::Connection& conn) {
  store::prop::set(conn, kIndexedChange, store::prop::getInt(conn, store::prop::kChangeCounter, 0));
}

// The change number the indexes reflect; none while the database has no view or folder.
std::optional<int64_t> indexedChange(store::Connection& conn) {
  auto indexed = store::prop::getInt(conn, kIndexedChange);
  if (indexed && *indexed < 0) return std::nullopt;
  return indexed;
}

// Once the last view or folder is gone, saves stop maintaining anything; the marker is
// cleared so the next view is built from nothing without first catching up on every change
// made meanwhile.
bool forgetIndexedWhenNoViews(db::Database& database, store::Connection& conn) {
  if (!designs(database, conn).empty()) return false;
  store::prop::set(conn, kIndexedChange, int64_t(-1));
  return true;
}

// Membership lives outside the notes, so its changes take a change number of their own:
// snapshots cached under the old number are then known to be stale, here and in other
// processes.
void membershipChanged(store::Connection& conn) {
  store::nextChange(conn);
  markIndexed(conn);
}

// Notes changed after `since` that no observer saw.
void catchUp(db::Database& database, store::Connection& conn, int64_t since, HTID except) {
  for (HTID id : store::changedSince(conn, since))
    if (id != except) reindexNote(database, conn, id);
}

void catchUpBeforeObserving(db::Database& database, store::Connection& conn, HTID current) {
  const auto indexed = indexedChange(conn);
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  if (indexed && *indexed < counter - 1) catchUp(database, conn, *indexed, current);
}

// Returns false when the database has no view or folder left.
bool handleDesignSaved(db::Database& database, store::Connection& conn, const store::NoteHeader& header,
                       const std::vector<store::StoredItem>& items) {
  if (header.deleted) {
    drop(conn, header.id);
    return !forgetIndexedWhenNoViews(database, conn);
  }
  auto d = compile(header.id, header, items);
  if (!metaCurrent(conn, *d)) rebuild(database, conn, *d);
  return true;
}

// Without any view or folder there is nothing to keep: a new one is built from nothing.
bool nothingToMaintain(db::Database& database, store::Connection& conn, uint32_t noteClass) {
  if (noteClass == nc::kView || noteClass == nc::kFolder) return false;
  return designs(database, conn).empty();
}

void onSaved(db::Database& database, store::Connection& conn, const doc::SavedNote& note) {
  const store::NoteHeader& h = note.header;
  if (nothingToMaintain(database, conn, h.noteClass)) return;
  catchUpBeforeObserving(database, conn, h.id);
  if (h.noteClass == nc::kDocument) {
    if (h.deleted) {
      removeEntriesOf(conn, h.id);
      conn.prepare("DELETE FROM folder_members WHERE note_id = ?1")->bind(1, int64_t(h.id)).run();
    } else {
      indexDocument(database, conn, h, note.items);
      resolveWaitingResponses(database, conn, h);
    }
  } else if (h.noteClass == nc::kView || h.noteClass == nc::kFolder) {
    if (!handleDesignSaved(database, conn, h, note.items)) return;
  }
  markIndexed(conn);
  noteChanged(database);
}

void onDeleted(db::Database& database, store::Connection& conn, const store::NoteHeader& h) {
  if (nothingToMaintain(database, conn, h.noteClass)) return;
  catchUpBeforeObserving(database, conn, h.id);
  if (h.noteClass == nc::kDocument) {
    removeEntriesOf(conn, h.id);
    conn.prepare("DELETE FROM folder_members WHERE note_id = ?1")->bind(1, int64_t(h.id)).run();
  } else if (h.noteClass == nc::kView || h.noteClass == nc::kFolder) {
    drop(conn, h.id);
    if (forgetIndexedWhenNoViews(database, conn)) return;
  }
  markIndexed(conn);
  noteChanged(database);
}

const bool kObserverRegistered = doc::registerNoteObserver({"view", &onSaved, &onDeleted});

// ---- Building from nothing -------------------------------------------------------------

// Streams every live document with its items, in note ID order, through `visit`.
template <typename Visit>
void forEachDocument(store::Connection& conn, Visit&& visit) {
  auto notes = conn.prepare(
      "SELECT note_id, unid, form, parent_unid, created, modified, sequence, items FROM notes "
      "WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id");
  notes->bind(1, int64_t(nc::kDocument));
  store::NoteHeader header;
  std::vector<store::StoredItem> noteItems;
  while (notes->step()) {
    header.id = HTID(notes->int64(0));
    header.unid = store::unidFromBlob(notes->blob(1));
    header.form = notes->text(2);
    header.parent.reset();
    if (!notes->isNull(3)) header.parent = store::unidFromBlob(notes->blob(3));
    header.created = notes->int64(4);
    header.modified = notes->int64(5);
    header.sequence = notes->int64(6);
    const store::Blob record = notes->blob(7);
    if (!store::decodeItems(record, noteItems))
      raise(HTFAIL_STORAGE_ERROR, "The items of note " + std::to_string(header.id) + " in " + conn.name() + " are damaged");
    dropSealed(noteItems);
    visit(header, noteItems);
  }
}

}  // namespace

DatabaseState& stateOf(const db::Database& database) { return *entryOf(database).state; }

void noteChanged(const db::Database& database) { stateOf(database).generation.fetch_add(1); }

const std::string& collationVersion() {
  static const std::string version = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    std::string out = "key1";
    if (U_SUCCESS(status) && collator) {
      UVersionInfo info;
      ucol_getVersion(collator, info);
      char text[U_MAX_VERSION_STRING_LENGTH];
      u_versionToString(info, text);
      out += "-icu";
      out += text;
    }
    if (collator) ucol_close(collator);
    return out;
  }();
  return version;
}

std::vector<std::shared_ptr<const CompiledDesign>> designs(db::Database& database, store::Connection& conn) {
  StateEntry& state = entryOf(database);
  auto st = conn.prepare("SELECT note_id, sequence FROM notes WHERE note_class IN (?1, ?2) AND deleted = 0 ORDER BY note_id");
  st->bind(1, int64_t(nc::kView)).bind(2, int64_t(nc::kFolder));
  std::map<HTID, std::shared_ptr<const CompiledDesign>> fresh;
  while (st->step()) {
    const HTID id = HTID(st->int64(0));
    auto it = state.designs.find(id);
    if (it != state.designs.end() && it->second->sequence == st->int64(1)) {
      fresh[id] = it->second;
    } else if (auto d = loadDesign(conn, id)) {
      fresh[id] = d;
    }
  }
  state.designs = fresh;
  std::vector<std::shared_ptr<const CompiledDesign>> out;
  for (auto& [id, d] : fresh) out.push_back(d);
  return out;
}

std::shared_ptr<const CompiledDesign> designOf(db::Database& database, store::Connection& conn, HTID viewId) {
  StateEntry& state = entryOf(database);
  auto st = conn.prepare("SELECT sequence FROM notes WHERE note_id = ?1 AND note_class IN (?2, ?3) AND deleted = 0");
  st->bind(1, int64_t(viewId)).bind(2, int64_t(nc::kView)).bind(3, int64_t(nc::kFolder));
  if (!st->step()) return nullptr;
  auto it = state.designs.find(viewId);
  if (it != state.designs.end() && it->second->sequence == st->int64(0)) return it->second;
  auto d = loadDesign(conn, viewId);
  if (d) state.designs[viewId] = d;
  return d;
}

void drop(store::Connection& conn, HTID viewId) {
  conn.prepare("DELETE FROM view_entries WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM view_meta WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM folder_members WHERE folder_id = ?1")->bind(1, int64_t(viewId)).run();
}

namespace {

// A build reads every document and writes every entry: with SQLite's default page cache of
// a few megabytes most of that is re-read from the file. A larger cache for the duration
// (memory is taken only as pages are touched) roughly halves the time.
class BuildCache {
 public:
  explicit BuildCache(store::Connection& conn) : conn_(conn) {
    if (conn_.dialect() != store::Dialect::Sqlite) return;
    auto st = conn_.prepare("PRAGMA cache_size");
    previous_ = st->step() ? st->int64(0) : -2000;
    conn_.exec("PRAGMA cache_size = -131072");
    active_ = true;
  }
  ~BuildCache() {
    if (!active_) return;
    try {
      conn_.exec("PRAGMA cache_size = " + std::to_string(previous_));
    } catch (...) {
      // Only a cache size: the connection works either way.
    }
  }
  BuildCache(const BuildCache&) = delete;
  BuildCache& operator=(const BuildCache&) = delete;

 private:
  store::Connection& conn_;
  int64_t previous_ = -2000;
  bool active_ = false;
};

}  // namespace

void rebuild(db::Database& database, store::Connection& conn, const CompiledDesign& d) {
  BuildCache cache(conn);
  store::Transaction tx(conn);
  conn.prepare("DELETE FROM view_entries WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  std::vector<NewEntry> entries;
  std::vector<store::Blob> readerLists;  // owners of the readers blobs the entries point at
  std::vector<std::pair<size_t, size_t>> readerRefs;  // entry index -> readerLists index
  index::NoteContext ctx;
  KeyCache keys;
  auto add = [&](const store::NoteHeader& header, const std::vector<store::StoredItem>& items) {
    ctx.bind(header, items);
    if (!d.folder && !selected(d, ctx)) return;
    const int64_t parent = d.hierarchical() ? parentIdOf(conn, header) : 0;
    const size_t first = entries.size();
    computeEntries(d, ctx, header.id, parent, nullptr, entries, &keys);
    if (auto readers = readerNames(items)) {
      readerLists.push_back(std::move(*readers));
      for (size_t i = first; i < entries.size(); ++i) readerRefs.emplace_back(i, readerLists.size() - 1);
    }
  };
  if (d.folder) {
    auto st = conn.prepare("SELECT note_id FROM folder_members WHERE folder_id = ?1 ORDER BY note_id");
    st->bind(1, int64_t(d.id));
    std::vector<HTID> members;
    while (st->step()) members.push_back(HTID(st->int64(0)));
    for (HTID id : members) {
      auto header = store::readNote(conn, id);
      if (!header || header->deleted || header->noteClass != nc::kDocument) continue;
      auto items = store::readItems(conn, id);
      dropSealed(items);
      add(*header, items);
    }
  } else {
    forEachDocument(conn, add);
  }
  ctx.unbind();
  keys.clear();
  // The blobs are stable now: point the entries at them.
  for (auto [entry, list] : readerRefs) entries[entry].readers = &readerLists[list];
  // Inserting in key order appends to the ordered index instead of splitting pages at random.
  // The keys are sorted as views into one arena, which keeps the comparisons in cache.
  std::string arena;
  for (const NewEntry& e : entries) arena += e.key;
  struct Sorted {
    const char* key;
    uint32_t length;
    uint32_t entry;
  };
  std::vector<Sorted> order;
  order.reserve(entries.size());
  size_t offset = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    order.push_back({arena.data() + offset, uint32_t(entries[i].key.size()), uint32_t(i)});
    offset += entries[i].key.size();
  }
  std::sort(order.begin(), order.end(), [&](const Sorted& a, const Sorted& b) {
    const int c = std::memcmp(a.key, b.key, std::min(a.length, b.length));
    if (c != 0) return c < 0;
    if (a.length != b.length) return a.length < b.length;
    return entries[a.entry].note < entries[b.entry].note;
  });
  // The per-note index takes the entries in note order, which is random here: when this view
  // brings most of the rows, building that index afresh by sorting is several times cheaper.
  const bool reindexNotes = entries.size() >= 1024 && int64_t(entries.size()) * 2 >= countEntries(conn);
  if (reindexNotes) conn.exec("DROP INDEX IF EXISTS view_entries_note");
  auto st = conn.prepare(
      "INSERT INTO view_entries(view_id, sort_key, note_id, parent_id, cells, readers) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  for (const Sorted& o : order) {
    const NewEntry& e = entries[o.entry];
    st->reset();
    st->bind(1, int64_t(d.id)).bindBlob(2, e.key.data(), e.key.size()).bind(3, int64_t(e.note)).bind(4, e.parent);
    st->bindBlob(5, e.cells.data(), e.cells.size());
    if (e.readers) st->bindBlob(6, *e.readers); else st->bindNull(6);
    st->run();
  }
  if (reindexNotes) conn.exec(kNoteIndex);
  writeMeta(conn, d);
  tx.commit();
}

void reindexNote(db::Database& database, store::Connection& conn, HTID noteId) {
  auto header = store::readNote(conn, noteId);
  if (!header) {
    removeEntriesOf(conn, noteId);
    return;
  }
  auto items = header->deleted ? std::vector<store::StoredItem>() : store::readItems(conn, noteId);
  dropSealed(items);
  if (header->noteClass == nc::kDocument) {
    if (header->deleted) {
      removeEntriesOf(conn, noteId);
      conn.prepare("DELETE FROM folder_members WHERE note_id = ?1")->bind(1, int64_t(noteId)).run();
    } else {
      indexDocument(database, conn, *header, items);
    }
  } else if (header->noteClass == nc::kView || header->noteClass == nc::kFolder) {
    handleDesignSaved(database, conn, *header, items);
  }
}

void ensureCurrent(db::Database& database, store::Connection& conn, HTID viewId) {
  auto d = designOf(database, conn, viewId);
  if (!d) return;
  const auto indexed = indexedChange(conn);
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  const bool stale = !metaCurrent(conn, *d);
  const bool behind = indexed && *indexed < counter;
  if (!stale && !behind && indexed) return;
  store::Transaction tx(conn);
  if (stale) rebuild(database, conn, *d);
  if (behind) catchUp(database, conn, *indexed, 0);
  markIndexed(conn);
  tx.commit();
  noteChanged(database);
}

size_t addMembers(db::Database& database, store::Connection& conn, const CompiledDesign& folder,
                  const std::vector<HTID>& notes) {
  auto insert = conn.prepare("INSERT INTO folder_members(folder_id, note_id) VALUES(?1, ?2) ON CONFLICT DO NOTHING");
  index::NoteContext ctx;
  std::vector<NewEntry> entries;
  size_t changed = 0;
  for (HTID id : notes) {
    insert->reset();
    insert->bind(1, int64_t(folder.id)).bind(2, int64_t(id)).run();
    if (conn.changes() == 0) continue;
    ++changed;
    auto header = store::readNote(conn, id);
    if (!header || header->deleted) continue;
    auto items = store::readItems(conn, id);
    dropSealed(items);
    ctx.bind(*header, items);
    const auto readers = readerNames(items);
    entries.clear();
    computeEntries(folder, ctx, id, 0, readers ? &*readers : nullptr, entries);
    insertEntries(conn, folder.id, entries);
    ctx.unbind();
  }
  if (changed) {
    membershipChanged(conn);
    noteChanged(database);
  }
  return changed;
}

size_t removeMembers(store::Connection& conn, HTID folderId, const std::vector<HTID>& notes) {
  auto del = conn.prepare("DELETE FROM folder_members WHERE folder_id = ?1 AND note_id = ?2");
  auto delEntries = conn.prepare("DELETE FROM view_entries WHERE view_id = ?1 AND note_id = ?2");
  size_t changed = 0;
  for (HTID id : notes) {
    del->reset();
    del->bind(1, int64_t(folderId)).bind(2, int64_t(id)).run();
    if (conn.changes() == 0) continue;
    ++changed;
    delEntries->reset();
    delEntries->bind(1, int64_t(folderId)).bind(2, int64_t(id)).run();
  }
  if (changed) membershipChanged(conn);
  return changed;
}

void removeAllMembers(store::Connection& conn, HTID folderId) {
  conn.prepare("DELETE FROM folder_members WHERE folder_id = ?1")->bind(1, int64_t(folderId)).run();
  conn.prepare("DELETE FROM view_entries WHERE view_id = ?1")->bind(1, int64_t(folderId)).run();
  membershipChanged(conn);
}

}  // namespace quire::engine::view
