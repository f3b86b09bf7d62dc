#include "engine/view/ViewIndex.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "engine/core/Engine.h"
#include "engine/core/LargeAllocator.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/doc/NoteEvents.h"
#include "engine/index/FastSelect.h"
#include "engine/index/NoteContext.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/ManyRows.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/core/Progress.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"
#include "engine/view/BaseSummary.h"
#include "engine/view/EntryCodec.h"
#include "engine/view/RecordFields.h"

namespace quire::engine::view {
namespace {

namespace nc = store::note_class;

constexpr const char* kIndexedChange = "view.indexed_change";
// Bumped by every write of a view or folder design, so a writer holding the write lock can
// tell that its list of designs is current without asking for the list again (on a server
// another writer's commit changes the data version on nearly every save).
constexpr const char* kDesignChanges = "view.design_changes";
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

void splitBaseRecords(store::Connection& conn);

const bool kSchemaRegistered = store::registerSchemaPart(
    {"view", 4, [](store::Connection& c, int from) {
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
       if (from < 2) {
         c.exec(R"sql(CREATE TABLE IF NOT EXISTS view_base(
  view_id INTEGER PRIMARY KEY,
  max_note INTEGER NOT NULL,
  entries BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS view_base_overrides(
  view_id INTEGER NOT NULL,
  note_id INTEGER NOT NULL,
  PRIMARY KEY(view_id, note_id)
);
)sql");
       }
       if (from < 3) {
         c.exec(R"sql(CREATE TABLE IF NOT EXISTS view_base_chunks(
  view_id INTEGER NOT NULL,
  chunk INTEGER NOT NULL,
  entries BLOB NOT NULL,
  PRIMARY KEY(view_id, chunk)
);
)sql");
         splitBaseRecords(c);
       }
       if (from < 4) {
         // Bases written before summaries have none: their views open by reading every entry,
         // as they did, until they are next built.
         c.exec(R"sql(CREATE TABLE IF NOT EXISTS view_base_summaries(
  view_id INTEGER NOT NULL,
  chunk INTEGER NOT NULL,
  build INTEGER NOT NULL,
  summary BLOB NOT NULL,
  PRIMARY KEY(view_id, chunk)
);
)sql");
       }
     }});

// ---- Per-database state ----------------------------------------------------------------

struct StateEntry {
  std::shared_ptr<DatabaseState> state;
  // Under the database lock. `designs` holds every design compiled so far by ID; `list` is
  // the live ones as last read, trusted while no other process committed (the connection's
  // data version is unchanged) and no view or folder change was seen here since a moment
  // outside any write: a design change made in a write that is later rolled back must not
  // linger in the list, so after one the list is re-read until such a moment comes.
  std::map<HTID, std::shared_ptr<const CompiledDesign>> designs;
  std::vector<std::shared_ptr<const CompiledDesign>> list;
  bool listKnown = false;
  bool designsUnsettled = false;
  int64_t listDataVersion = 0;
  // The transaction (Connection::transactionSerial) in which the list was last found current
  // while holding the write lock, 0 for none: within it no other process can change the
  // designs, so the data version need not be asked again on every save.
  uint64_t listCheckedIn = 0;
  // kDesignChanges when the list was last read with the write lock held, -1 when it was not.
  int64_t listDesignChanges = -1;
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
// (categories above all) and an ICU sort key costs far more than a hash look-up. The look-up
// runs for every text column of every document, so it touches as little memory as it can:
// one slot array and one arena holding each text next to its component, where a node-based
// map cost several cache misses a look-up and more time than the sort keys it saved.
class KeyCache {
 public:
  void append(std::string& key, const formula::Value& value, size_t index, bool descending) {
    if (!value.isText()) {
      appendKey(key, value, index, descending);
      return;
    }
    appendText(key, value.texts()[index], descending);
  }
  void appendText(std::string& key, std::string_view text, bool descending) {
    if (text.size() > kMaxCachedText) {
      appendTextKey(key, text, descending);
      return;
    }
    (descending ? descending_ : ascending_).append(key, text, descending);
  }
  void clear() {
    ascending_ = Table();
    descending_ = Table();
  }

 private:
  static constexpr size_t kMaxCachedText = 64;
  // Past this much text and keys the cache stops taking new texts (it still answers the ones
  // it has): a column of distinct texts gains nothing from it, and must not double a
  // large build's memory.
  static constexpr size_t kMaxArenaBytes = size_t(16) << 20;

  class Table {
   public:
    void append(std::string& key, std::string_view text, bool descending) {
      const uint64_t hash = std::hash<std::string_view>{}(text);
      const uint32_t tag = uint32_t(hash >> 32);
      if (!slots_.empty()) {
        const size_t mask = slots_.size() - 1;
        for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
          const Slot& slot = slots_[i];
          if (slot.offset == 0) break;
          if (slot.tag != tag) continue;
          // A record: the text's length (1 byte), the component's (2 bytes), the text, the
          // component.
          const char* at = arena_.data() + slot.offset;
          const size_t textLength = uint8_t(at[0]);
          if (textLength != text.size() || (textLength && std::memcmp(at + 3, text.data(), textLength) != 0)) continue;
          const size_t componentLength = size_t(uint8_t(at[1])) | size_t(uint8_t(at[2])) << 8;
          key.append(at + 3 + textLength, componentLength);
          return;
        }
      }
      const size_t keyStart = key.size();
      appendTextKey(key, text, descending);
      const size_t componentLength = key.size() - keyStart;
      if (arena_.size() >= kMaxArenaBytes || componentLength > 0xFFFF) return;
      if (arena_.empty()) arena_.push_back('\0');  // offset 0 marks an empty slot
      if ((count_ + 1) * 2 > slots_.size()) grow();
      const size_t offset = arena_.size();
      arena_.push_back(char(uint8_t(text.size())));
      arena_.push_back(char(uint8_t(componentLength)));
      arena_.push_back(char(uint8_t(componentLength >> 8)));
      arena_.append(text);
      arena_.append(key, keyStart, componentLength);
      place(Slot{tag, uint32_t(offset)}, hash);
      ++count_;
    }

   private:
    // Eight slots to a cache line: the slot array of a column of tens of thousands of texts
    // stays within the second-level cache.
    struct Slot {
      uint32_t tag = 0;  // the hash's high half
      uint32_t offset = 0;  // of the record in the arena; 0 for an empty slot
    };
    void place(const Slot& s, uint64_t hash) {
      const size_t mask = slots_.size() - 1;
      size_t i = size_t(hash) & mask;
      while (slots_[i].offset != 0) i = (i + 1) & mask;
      slots_[i] = s;
    }
    void grow() {
      std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2));
      old.swap(slots_);
      for (const Slot& s : old) {
        if (s.offset == 0) continue;
        const char* at = arena_.data() + s.offset;
        place(s, std::hash<std::string_view>{}(std::string_view(at + 3, uint8_t(at[0]))));
      }
    }

    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::string arena_;
    size_t count_ = 0;
  };

  Table ascending_, descending_;
};

void appendComponent(std::string& key, const formula::Value& value, size_t index, bool descending, KeyCache* cache) {
  if (cache) cache->append(key, value, index, descending);
  else appendKey(key, value, index, descending);
}

// A column's value for one document: built by the evaluator, or (during a build) a single
// text or number read in place from the stored record, which costs no allocation.
struct ColumnInput {
  enum class Kind : uint8_t { Built, Text, Number };
  Kind kind = Kind::Built;
  std::string_view text;
  double number = 0;
};

// The working memory of entry computation, kept across the documents of a build so that a
// document costs no allocations beyond its column values.
struct EntryScratch {
  struct Choice {
    size_t offset = 0;  // the key component, in `components`
    size_t length = 0;
    size_t element = 0;  // which element of the column's value
  };
  std::vector<formula::Value> values;
  std::vector<ColumnInput> inputs;  // per column; Built unless the caller read it in place
  std::string components;
  std::vector<std::vector<Choice>> choices;
  std::vector<size_t> pick;
  std::vector<int> categoryLevel;  // per column: its category level, or -1
  std::string key;
  std::string cells;

  size_t sizeOf(size_t col) const { return inputs[col].kind == ColumnInput::Kind::Built ? values[col].size() : 1; }
  void appendComponentOf(size_t col, size_t index, bool descending, KeyCache* cache) {
    const ColumnInput& in = inputs[col];
    switch (in.kind) {
      case ColumnInput::Kind::Built:
        appendComponent(components, values[col], index, descending, cache);
        break;
      case ColumnInput::Kind::Text:
        if (cache) cache->appendText(components, in.text, descending);
        else appendTextKey(components, in.text, descending);
        break;
      case ColumnInput::Kind::Number:
        appendNumberKey(components, in.number, descending);
        break;
    }
  }
  void appendCellOf(size_t col, const size_t* element) {
    const ColumnInput& in = inputs[col];
    switch (in.kind) {
      case ColumnInput::Kind::Built:
        if (element) appendCellElement(cells, values[col], *element);
        else appendCell(cells, values[col]);
        break;
      case ColumnInput::Kind::Text:
        appendTextCell(cells, in.text);
        break;
      case ColumnInput::Kind::Number:
        appendNumberCell(cells, in.number);
        break;
    }
  }
};

// The rows of one document in one view (the document passed the selection): calls
// emit(key, cells) once per row, the views valid only during the call. A categorised column
// with several values gives one row per distinct value (an empty value gives the one empty
// category); several such columns give their combinations, up to kMaxEntriesPerNote.
// Columns whose s.inputs the caller set (size the column count) are not evaluated; with
// s.inputs empty, every column is.
template <typename Emit>
void forEachEntry(const CompiledDesign& d, index::NoteContext& ctx, EntryScratch& s, KeyCache* cache, Emit&& emit) {
  const size_t columnCount = d.columns.size();
  s.values.resize(columnCount);
  if (s.inputs.size() != columnCount) s.inputs.assign(columnCount, ColumnInput{});
  for (size_t c = 0; c < columnCount; ++c)
    if (s.inputs[c].kind == ColumnInput::Kind::Built) s.values[c] = columnValue(d.columns[c], ctx);

  s.components.clear();
  // The non-category sorted columns, by their first value, go at the end of every key.
  for (size_t k = d.categoryLevels; k < d.keyColumns.size(); ++k) {
    const size_t col = d.keyColumns[k];
    s.appendComponentOf(col, 0, d.columns[col].design.descending(), cache);
  }
  const size_t tailLength = s.components.size();

  s.choices.resize(d.categoryLevels);
  s.categoryLevel.assign(columnCount, -1);
  for (size_t k = 0; k < d.categoryLevels; ++k) {
    const size_t col = d.keyColumns[k];
    s.categoryLevel[col] = int(k);
    auto& list = s.choices[k];
    list.clear();
    const size_t count = s.sizeOf(col);
    for (size_t i = 0; i < count; ++i) {
      const size_t offset = s.components.size();
      s.appendComponentOf(col, i, d.columns[col].design.descending(), cache);
      const std::string_view made(s.components.data() + offset, s.components.size() - offset);
      const bool seen = std::any_of(list.begin(), list.end(), [&](const EntryScratch::Choice& c) {
        return std::string_view(s.components.data() + c.offset, c.length) == made;
      });
      if (seen) s.components.resize(offset);
      else list.push_back({offset, made.size(), i});
    }
    if (list.empty()) {  // values are never empty lists; should one be, it is the empty category
      s.inputs[col] = ColumnInput{};
      s.values[col] = formula::Value();
      const size_t offset = s.components.size();
      appendComponent(s.components, s.values[col], 0, d.columns[col].design.descending(), cache);
      list.push_back({offset, s.components.size() - offset, 0});
    }
  }
  // Walk the combinations of category values like an odometer.
  s.pick.assign(d.categoryLevels, 0);
  for (size_t made = 0; made < kMaxEntriesPerNote; ++made) {
    s.key.clear();
    for (size_t k = 0; k < d.categoryLevels; ++k) {
      const auto& c = s.choices[k][s.pick[k]];
      s.key.append(s.components, c.offset, c.length);
    }
    s.key.append(s.components, 0, tailLength);
    s.cells.clear();
    for (size_t c = 0; c < columnCount; ++c) {
      const int level = s.categoryLevel[c];
      if (level < 0) s.appendCellOf(c, nullptr);
      else s.appendCellOf(c, &s.choices[size_t(level)][s.pick[size_t(level)]].element);
    }
    emit(std::string_view(s.key), std::string_view(s.cells));
    size_t k = d.categoryLevels;
    while (k > 0) {
      --k;
      if (++s.pick[k] < s.choices[k].size()) break;
      s.pick[k] = 0;
      if (k == 0) return;
    }
    if (d.categoryLevels == 0) return;
  }
}

void computeEntries(const CompiledDesign& d, index::NoteContext& ctx, HTID note, int64_t parent,
                    const store::Blob* readers, std::vector<NewEntry>& out) {
  EntryScratch scratch;
  forEachEntry(d, ctx, scratch, nullptr, [&](std::string_view key, std::string_view cells) {
    out.push_back(NewEntry{std::string(key), note, parent, std::string(cells), readers});
  });
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
  // Base entries cannot be deleted one by one: the note is marked as no longer counting
  // there (only in bases built while it existed).
  conn.prepare(
          "INSERT INTO view_base_overrides(view_id, note_id) SELECT view_id, ?1 FROM view_base "
          "WHERE max_note >= ?1 ON CONFLICT DO NOTHING")
      ->bind(1, int64_t(note))
      .run();
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
void markIndexed(store::Connection& conn, int64_t counter) { store::prop::set(conn, kIndexedChange, counter); }

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

// Returns the change counter, which the observer then records as indexed.
int64_t catchUpBeforeObserving(db::Database& database, store::Connection& conn, HTID current) {
  const auto indexed = indexedChange(conn);
  const int64_t counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  if (indexed && *indexed < counter - 1) catchUp(database, conn, *indexed, current);
  return counter;
}

// A view or folder design is being saved or deleted here: the cached list of designs must be
// re-read, and must not be trusted again before this write is known to have ended.
void designsChanged(db::Database& database, store::Connection& conn) {
  StateEntry& state = entryOf(database);
  state.listKnown = false;
  state.designsUnsettled = true;
  store::prop::setLater(conn, kDesignChanges, store::prop::getInt(conn, kDesignChanges, 0) + 1);
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

bool isDesignClass(uint32_t noteClass) { return noteClass == nc::kView || noteClass == nc::kFolder; }

// Without any view or folder there is nothing to keep: a new one is built from nothing.
bool nothingToMaintain(db::Database& database, store::Connection& conn, uint32_t noteClass) {
  if (isDesignClass(noteClass)) return false;
  return designs(database, conn).empty();
}

void onSaved(db::Database& database, store::Connection& conn, const doc::SavedNote& note) {
  const store::NoteHeader& h = note.header;
  if (isDesignClass(h.noteClass)) designsChanged(database, conn);
  if (nothingToMaintain(database, conn, h.noteClass)) return;
  int64_t counter = catchUpBeforeObserving(database, conn, h.id);
  if (h.noteClass == nc::kDocument) {
    if (h.deleted) {
      removeEntriesOf(conn, h.id);
      conn.prepare("DELETE FROM folder_members WHERE note_id = ?1")->bind(1, int64_t(h.id)).run();
    } else {
      indexDocument(database, conn, h, note.items);
      resolveWaitingResponses(database, conn, h);
    }
  } else if (isDesignClass(h.noteClass)) {
    if (!handleDesignSaved(database, conn, h, note.items)) return;
    // A rebuild or the responses may have taken change numbers of their own.
    counter = store::prop::getInt(conn, store::prop::kChangeCounter, 0);
  }
  markIndexed(conn, counter);
  noteChanged(database);
}

void onDeleted(db::Database& database, store::Connection& conn, const store::NoteHeader& h) {
  if (isDesignClass(h.noteClass)) designsChanged(database, conn);
  if (nothingToMaintain(database, conn, h.noteClass)) return;
  const int64_t counter = catchUpBeforeObserving(database, conn, h.id);
  if (h.noteClass == nc::kDocument) {
    removeEntriesOf(conn, h.id);
    conn.prepare("DELETE FROM folder_members WHERE note_id = ?1")->bind(1, int64_t(h.id)).run();
  } else if (isDesignClass(h.noteClass)) {
    drop(conn, h.id);
    if (forgetIndexedWhenNoViews(database, conn)) return;
  }
  markIndexed(conn, counter);
  noteChanged(database);
}

const bool kObserverRegistered = doc::registerNoteObserver({"view", &onSaved, &onDeleted});

// ---- Building from nothing -------------------------------------------------------------

// Fields answered straight from a note's stored record: a build reads a few items of every
// document, and copying all of them out first cost more than evaluating the view.
// Bound only to notes whose items need no filtering (nothing sealed, see forEachDocument).
class RecordContext : public index::NoteContext {
 public:
  // `asciiNames`: every item name of the record is ASCII, so a name of another length
  // cannot match (case folding changes lengths only outside ASCII).
  void bindRecord(const store::NoteHeader& header, std::string_view record, bool asciiNames) {
    bind(header, noItems_);  // the header answers @functions; assignments are cleared
    record_ = record;
    bound_ = true;
    asciiNames_ = asciiNames;
  }
  formula::Value getField(std::string_view name) override {
    if (const Assignment* a = assigned(name)) return a->value;
    store::ItemRef ref;
    formula::Value v;
    if (!find(name, ref)) return v;
    if ((ref.flags & index::kItemEncrypted) || !decode(ref.type, ref.value, ref.size, v)) return formula::Value();
    return v;
  }
  bool hasField(std::string_view name) override {
    if (assigned(name)) return true;
    store::ItemRef ref;
    return find(name, ref);
  }

 private:
  bool find(std::string_view name, store::ItemRef& out) const {
    if (!bound_) return false;
    if (!asciiNames_ || !isAscii(name)) return store::findItem(record_.data(), record_.size(), name, out);
    bool found = false;
    store::forEachItem(record_.data(), record_.size(), [&](const store::ItemRef& item) {
      if (item.name.size() != name.size() || !sameAscii(item.name, name)) return true;
      out = item;
      found = true;
      return false;
    });
    return found;
  }
  static bool isAscii(std::string_view s) {
    for (char c : s)
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
  }
  static bool sameAscii(std::string_view a, std::string_view b) {
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  }

  const Assignment* assigned(std::string_view name) const {
    for (const Assignment& a : assignments())
      if (store::sameItemName(a.name, name)) return &a;
    return nullptr;
  }

  const std::vector<store::StoredItem> noItems_{};
  std::string_view record_;  // the statement's bytes, valid while bound
  bool bound_ = false;
  bool asciiNames_ = false;
};

// The selection and item columns of a build answered from the record in place (RecordFields)
// where their shape allows: a selection FastSelect accepts, columns that read one item.
class DirectReads {
 public:
  explicit DirectReads(const CompiledDesign& d) {
    if (d.selection && !d.selection->selectsAll()) fast_ = index::FastSelect::build(d.selection->text());
    if (fast_) {
      for (const auto& name : fast_->fields()) {
        const int slot = fields_.add(name);
        if (slot < 0) {
          fast_.reset();
          selectSlots_.clear();
          break;
        }
        selectSlots_.push_back(size_t(slot));
      }
    }
    for (const auto& column : d.columns) columnSlots_.push_back(column.field.empty() ? -1 : fields_.add(column.field));
  }
  // Whether bindWhole can stand for the walk over each record.
  bool readsFields() const { return fields_.size() > 0; }
  // Binds `record` and tells what its items are (RecordFields::bindWhole); false for a
  // malformed record. What it binds may be read only when traits.asciiNames.
  bool bindWhole(std::string_view record, RecordFields::Traits& traits) { return fields_.bindWhole(record, traits); }
  // The selection's answer; none when the evaluator must give it.
  std::optional<bool> selects() {
    if (!fast_ || !fields_.operands(selectSlots_, operands_)) return std::nullopt;
    switch (fast_->test(operands_)) {
      case index::FastSelect::Outcome::Yes: return true;
      case index::FastSelect::Outcome::No: return false;
      case index::FastSelect::Outcome::Error: break;  // the evaluator knows the error's text
    }
    return std::nullopt;
  }
  // Sets the inputs of the columns whose item reads as one text or number.
  void columns(std::vector<ColumnInput>& inputs) const {
    RecordFields::Scalar v;
    for (size_t c = 0; c < columnSlots_.size(); ++c) {
      if (columnSlots_[c] < 0 || !fields_.scalar(size_t(columnSlots_[c]), v)) continue;
      inputs[c].kind = v.isText ? ColumnInput::Kind::Text : ColumnInput::Kind::Number;
      inputs[c].text = v.text;
      inputs[c].number = v.number;
    }
  }

 private:
  RecordFields fields_;
  std::unique_ptr<index::FastSelect> fast_;
  std::vector<size_t> selectSlots_;
  std::vector<index::FastSelect::Operand> operands_;
  std::vector<int> columnSlots_;
};

// What a walk over a record tells about a note before it is evaluated.
struct RecordTraits {
  bool plain = true;  // no Readers/Authors names to collect and nothing sealed to drop
  bool asciiNames = true;
};

RecordTraits traitsOf(const RecordFields::Traits& walked) {
  RecordTraits t;
  t.asciiNames = walked.asciiNames;
  if (walked.flags & (index::kItemReaders | index::kItemAuthors)) t.plain = false;
  if (walked.sealed && (walked.flags & index::kItemEncrypted)) t.plain = false;
  return t;
}

RecordTraits traitsOf(std::string_view record, HTID id, store::Connection& conn) {
  RecordFields::Traits walked;
  const bool ok = store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& item) {
    walked.flags |= item.flags;
    for (char c : item.name)
      if (static_cast<unsigned char>(c) >= 0x80) walked.asciiNames = false;
    if (!walked.sealed && item.name.size() == 5 && store::sameItemName(item.name, "$Seal")) walked.sealed = true;
    return true;
  });
  if (!ok) raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, id));
  return traitsOf(walked);
}

// Streams every live document, in note ID order, through `visit(header, record, asciiNames,
// items, bound)`; with `folder`, only that folder's members, read in the same one scan (a read
// per member would cost a round trip each on a server):
// `items` is null for a plain note (RecordTraits), whose fields are read from `record`
// directly, and holds the decoded, observer-visible items of any other. `bound`: `direct`
// holds the note's fields, read in the same walk that told what the note is.
template <typename Visit>
void forEachDocument(store::Connection& conn, HTID folder, DirectReads& direct, Visit&& visit) {
  // SQLite would walk the class index and look every row up in the table; nearly every note
  // is a document, so one pass over the table in note order (the "+" keeps the index out)
  // reads the same rows for less.
  auto notes =
      folder ? conn.prepare(
                   "SELECT n.note_id, n.unid, n.form, n.parent_unid, n.created, n.modified, n.sequence, n.items "
                   "FROM folder_members m JOIN notes n ON n.note_id = m.note_id "
                   "WHERE m.folder_id = ?2 AND n.note_class = ?1 AND n.deleted = 0 ORDER BY m.note_id")
             : conn.prepare(std::string("SELECT note_id, unid, form, parent_unid, created, modified, sequence, items "
                                        "FROM notes WHERE ") +
                            (conn.dialect() == store::Dialect::Sqlite ? "+note_class" : "note_class") +
                            " = ?1 AND deleted = 0 ORDER BY note_id");
  store::manyRows(*notes).bind(1, int64_t(nc::kDocument));
  if (folder) notes->bind(2, int64_t(folder));
  store::NoteHeader header;
  std::vector<store::StoredItem> noteItems;
  while (notes->step()) {
    header.id = HTID(notes->int64(0));
    header.unid = store::unidFromBytes(notes->blobView(1));
    header.form = notes->text(2);
    header.parent.reset();
    if (!notes->isNull(3)) header.parent = store::unidFromBytes(notes->blobView(3));
    header.created = notes->int64(4);
    header.modified = notes->int64(5);
    header.sequence = notes->int64(6);
    // Read in place: the record stays valid until the next step.
    const std::string_view record = notes->blobView(7);
    RecordTraits traits;
    bool bound = false;
    if (direct.readsFields()) {
      RecordFields::Traits walked;
      if (!direct.bindWhole(record, walked)) raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, header.id));
      traits = traitsOf(walked);
      bound = traits.asciiNames;
    } else {
      traits = traitsOf(record, header.id, conn);
    }
    if (traits.plain) {
      visit(header, record, traits.asciiNames, static_cast<const std::vector<store::StoredItem>*>(nullptr), bound);
      continue;
    }
    if (!store::decodeItems(record.data(), record.size(), noteItems))
      raise(HTFAIL_STORAGE_ERROR, store::damagedItemsMessage(conn, header.id));
    dropSealed(noteItems);
    visit(header, record, false, static_cast<const std::vector<store::StoredItem>*>(&noteItems), false);
  }
}

}  // namespace

DatabaseState& stateOf(const db::Database& database) { return *entryOf(database).state; }

std::shared_ptr<DatabaseState> sharedStateOf(const db::Database& database) { return entryOf(database).state; }

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
  const bool locked = store::holdsWriteLock(conn);
  if (state.designsUnsettled && !locked) {
    state.designsUnsettled = false;
    state.listKnown = false;
  }
  if (locked && state.listKnown && !state.designsUnsettled && state.listCheckedIn == conn.transactionSerial)
    return state.list;
  const int64_t designChanges = locked ? store::prop::getInt(conn, kDesignChanges, 0) : -1;
  if (locked && state.listKnown && !state.designsUnsettled && state.listDesignChanges == designChanges) {
    state.listCheckedIn = conn.transactionSerial;
    return state.list;
  }
  const int64_t version = conn.dataVersion();
  state.listCheckedIn = locked ? conn.transactionSerial : 0;
  state.listDesignChanges = designChanges;
  if (state.listKnown && !state.designsUnsettled && state.listDataVersion == version) return state.list;
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
  st.reset();
  state.designs = fresh;
  state.list.clear();
  for (auto& [id, d] : fresh) state.list.push_back(d);
  state.listKnown = true;
  state.listDataVersion = version;
  return state.list;
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
  conn.prepare("DELETE FROM view_base WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM view_base_chunks WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM view_base_summaries WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM view_base_overrides WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM view_meta WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
  conn.prepare("DELETE FROM folder_members WHERE folder_id = ?1")->bind(1, int64_t(viewId)).run();
}

namespace {

// The page cache during a build. A view's build reads the note table once, front to back,
// and then writes its chunks once: no page is wanted twice, and a cache growing under either
// took fresh memory a page fault at a time, so it stays small and its pages are reused. A
// folder's build, and a view's once it meets a response, look notes up by ID or UNID in no
// order; from then on a larger cache (memory is taken only as pages are touched) saves
// reading the same pages from the file again and again.
class BuildCache {
 public:
  BuildCache(store::Connection& conn, bool randomReads) : conn_(conn) {
    if (conn_.dialect() != store::Dialect::Sqlite) return;
    auto st = conn_.prepare("PRAGMA cache_size");
    previous_ = st->step() ? st->int64(0) : -2000;
    active_ = true;
    set(kStreamingKib);
    if (randomReads) readingAtRandom();
  }
  ~BuildCache() {
    if (active_) set(previous_);
  }
  void readingAtRandom() {
    if (!active_ || large_) return;
    large_ = true;
    set(kRandomReadsKib);
  }
  // Once every document is read: the pages go back before the entries are sorted, so a
  // large build does not hold both at once.
  void end() {
    if (active_) set(kStreamingKib);
  }
  BuildCache(const BuildCache&) = delete;
  BuildCache& operator=(const BuildCache&) = delete;

 private:
  static constexpr int64_t kStreamingKib = -2048;
  static constexpr int64_t kRandomReadsKib = -131072;
  void set(int64_t size) {
    try {
      conn_.exec("PRAGMA cache_size = " + std::to_string(size));
    } catch (...) {
      // Only a cache size: the connection works either way.
    }
  }

  store::Connection& conn_;
  int64_t previous_ = -2000;
  bool active_ = false;
  bool large_ = false;
};

// ---- Sorting a build's entries ---------------------------------------------------------

struct SortKey {
  const char* bytes;
  uint32_t length;
  HTID note;
};

// Sixteen key bytes from `depth` on, as two big-endian numbers zero-padded, and how many of
// them the key has. Ordered by the bytes, then by that count, words order keys as their bytes
// do with a key that ends first sorting first (a pad byte is never above a real one).
constexpr size_t kWordBytes = 16;

struct Word {
  uint64_t high = 0;
  uint64_t low = 0;
  uint32_t count = 0;
  bool operator<(const Word& o) const {
    if (high != o.high) return high < o.high;
    if (low != o.low) return low < o.low;
    return count < o.count;
  }
};

inline Word wordAt(const SortKey& k, size_t depth) {
  Word w;
  if (depth >= k.length) return w;
  w.count = uint32_t(std::min<size_t>(kWordBytes, k.length - depth));
  uint8_t buffer[kWordBytes] = {};
  std::memcpy(buffer, k.bytes + depth, w.count);
  std::memcpy(&w.high, buffer, 8);
  std::memcpy(&w.low, buffer + 8, 8);
  if constexpr (std::endian::native == std::endian::little) {
    w.high = __builtin_bswap64(w.high);
    w.low = __builtin_bswap64(w.low);
  }
  return w;
}

bool keyBefore(const SortKey& a, const SortKey& b, size_t depth) {
  const size_t common = std::min(a.length, b.length);
  if (depth < common) {
    const int c = std::memcmp(a.bytes + depth, b.bytes + depth, common - depth);
    if (c != 0) return c < 0;
  }
  if (a.length != b.length) return a.length < b.length;
  return a.note < b.note;
}

// A build's large arrays: mapped in huge pages where the kernel allows (core/LargeAllocator.h).
template <typename T>
using BuildVector = std::vector<T, LargeAllocator<T>>;
using BuildArena = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

// An entry being sorted, with its key's word at the depth being sorted on kept beside it: the
// keys lie in the arena in document order, so reading one is a cache miss once a build
// outgrows the caches, and a partition that read them again on every pass spent most of its
// time waiting for memory (more so the larger the build).
struct SortItem {
  uint64_t high;
  uint64_t low;
  uint32_t count;
  uint32_t index;  // into the keys
  Word word() const { return Word{high, low, count}; }
};

// Reads the words at `depth` of `items[first, last)`, fetching ahead what the next reads need.
void fillWords(BuildVector<SortItem>& items, const BuildVector<SortKey>& keys, size_t first, size_t last,
               size_t depth) {
  constexpr size_t kAhead = 16;
  for (size_t i = first; i < last; ++i) {
    if (i + 2 * kAhead < last) __builtin_prefetch(&keys[items[i + 2 * kAhead].index]);
    if (i + kAhead < last) {
      const SortKey& next = keys[items[i + kAhead].index];
      if (depth < next.length) __builtin_prefetch(next.bytes + depth);
    }
    const Word w = wordAt(keys[items[i].index], depth);
    items[i].high = w.high;
    items[i].low = w.low;
    items[i].count = w.count;
  }
}

// Three-way radix quicksort on the key bytes, sixteen at a time: the keys of one category share
// long prefixes (collation keys of the same text), which a comparison sort would compare
// again and again. Sorts `items[first, last)`, whose keys agree on their first `depth`
// bytes; `filled`: their words at `depth` are read already.
void radixQuicksort(BuildVector<SortItem>& items, const BuildVector<SortKey>& keys, size_t first, size_t last,
                    size_t depth, bool filled) {
  while (last - first > 1) {
    if (!filled) fillWords(items, keys, first, last, depth);
    if (last - first < 24) {
      // The words decide nearly always; the keys themselves are read only past equal words.
      std::sort(items.begin() + ptrdiff_t(first), items.begin() + ptrdiff_t(last),
                [&](const SortItem& a, const SortItem& b) {
                  const Word x = a.word(), y = b.word();
                  if (x < y) return true;
                  if (y < x) return false;
                  if (x.count < kWordBytes) return keys[a.index].note < keys[b.index].note;
                  return keyBefore(keys[a.index], keys[b.index], depth + kWordBytes);
                });
      return;
    }
    const Word pivot = items[first + (last - first) / 2].word();
    // [first, lt) below the pivot, [lt, i) equal, (gt, last) above.
    size_t lt = first, i = first, gt = last;
    while (i < gt) {
      const Word w = items[i].word();
      if (w < pivot) std::swap(items[lt++], items[i++]);
      else if (pivot < w) std::swap(items[i], items[--gt]);
      else ++i;
    }
    radixQuicksort(items, keys, first, lt, depth, true);
    radixQuicksort(items, keys, gt, last, depth, true);
    if (pivot.count < kWordBytes) {
      // Keys that ended here are equal: note order decides.
      std::sort(items.begin() + ptrdiff_t(lt), items.begin() + ptrdiff_t(gt),
                [&](const SortItem& a, const SortItem& b) { return keys[a.index].note < keys[b.index].note; });
      return;
    }
    first = lt;
    last = gt;
    depth += kWordBytes;
    filled = false;
  }
}

void sortByKey(BuildVector<uint32_t>& order, const BuildVector<SortKey>& keys) {
  BuildVector<SortItem> items(order.size());
  for (size_t i = 0; i < order.size(); ++i) items[i] = SortItem{0, 0, 0, order[i]};
  radixQuicksort(items, keys, 0, items.size(), 0, false);
  for (size_t i = 0; i < order.size(); ++i) order[i] = items[i].index;
}

// ---- The base of a built view, in chunks -----------------------------------------------

// A chunk (and a whole base record of files written before chunks) is the format byte, the
// entry count, then per entry: note, parent, key length, cells length and readers length
// (kNoReaders for none), each 4 bytes little-endian, followed by the key, cells and readers.
constexpr uint8_t kBaseFormat = 1;
constexpr uint32_t kNoReaders = 0xFFFFFFFFu;
constexpr size_t kEntryHeader = 20;
// Large enough that a million-entry view is a few thousand rows, small enough that reading
// one costs a few overflow pages and memory stays flat however large the view grows.
constexpr size_t kChunkBytes = 64 * 1024;

// Folders keep rows: their entries follow membership, not a build over every document.
bool usesBase(const CompiledDesign& d) { return !d.folder; }

void putU32(std::string& out, uint32_t v) {
  const char bytes[4] = {char(uint8_t(v)), char(uint8_t(v >> 8)), char(uint8_t(v >> 16)), char(uint8_t(v >> 24))};
  out.append(bytes, 4);
}

uint32_t getU32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

struct BaseEntry {
  HTID note = 0;
  uint32_t parent = 0;
  std::string_view key;
  std::string_view cells;
  bool hasReaders = false;
  std::string_view readers;
};

// Reads a chunk (or an old whole record) entry by entry, checking every length against the
// bytes there are: a damaged chunk is reported, never read past.
class BaseReader {
 public:
  // False when `bytes` cannot be a chunk.
  bool start(std::string_view bytes) {
    bytes_ = bytes;
    pos_ = 5;
    if (bytes.size() < 5 || uint8_t(bytes[0]) != kBaseFormat) return false;
    left_ = getU32(bytes.data() + 1);
    return true;
  }
  // False at the end (`damaged` tells whether the end was a clean one).
  bool next(BaseEntry& out, bool& damaged) {
    damaged = false;
    if (left_ == 0) {
      damaged = pos_ != bytes_.size();
      return false;
    }
    const size_t room = bytes_.size() - pos_;
    if (room < kEntryHeader) return fail(damaged);
    const char* p = bytes_.data() + pos_;
    const size_t keyLength = getU32(p + 8), cellLength = getU32(p + 12);
    const uint32_t readersLength = getU32(p + 16);
    const size_t extra = readersLength == kNoReaders ? 0 : readersLength;
    const size_t body = room - kEntryHeader;
    if (body < keyLength || body - keyLength < cellLength || body - keyLength - cellLength < extra) return fail(damaged);
    out.note = getU32(p);
    out.parent = getU32(p + 4);
    out.key = bytes_.substr(pos_ + kEntryHeader, keyLength);
    out.cells = bytes_.substr(pos_ + kEntryHeader + keyLength, cellLength);
    out.hasReaders = readersLength != kNoReaders;
    out.readers = bytes_.substr(pos_ + kEntryHeader + keyLength + cellLength, extra);
    pos_ += kEntryHeader + keyLength + cellLength + extra;
    --left_;
    return true;
  }

 private:
  bool fail(bool& damaged) {
    damaged = true;
    left_ = 0;
    return false;
  }
  std::string_view bytes_;
  size_t pos_ = 0;
  uint32_t left_ = 0;
};

// Streams a build's entries, in index order, into chunks of about kChunkBytes, so neither
// the build nor a reader ever holds more than one chunk of the stored form.
class ChunkWriter {
 public:
  // With a design, every chunk gets its summary (BaseSummary.h), all under one new build
  // number; without one (a base split from an older file) none.
  ChunkWriter(store::Connection& conn, HTID viewId, const CompiledDesign* design = nullptr)
      : insert_(conn.prepare("INSERT INTO view_base_chunks(view_id, chunk, entries) VALUES(?1, ?2, ?3)")),
        viewId_(viewId) {
    if (design) {
      summary_.emplace(*design);
      insertSummary_ =
          conn.prepare("INSERT INTO view_base_summaries(view_id, chunk, build, summary) VALUES(?1, ?2, ?3, ?4)");
      build_ = newBuildNumber();
    }
    buffer_.reserve(kChunkBytes + kChunkBytes / 4);
    begin();
  }
  void add(const BaseEntry& e) {
    if (summary_) summary_->add(e.key, e.cells, e.hasReaders, e.parent != 0);
    const uint32_t head[5] = {e.note, e.parent, uint32_t(e.key.size()), uint32_t(e.cells.size()),
                              e.hasReaders ? uint32_t(e.readers.size()) : kNoReaders};
    const size_t at = buffer_.size();
    buffer_.resize(at + kEntryHeader + e.key.size() + e.cells.size() + e.readers.size());
    char* p = buffer_.data() + at;
    for (uint32_t v : head) {
      for (int k = 0; k < 4; ++k) *p++ = char(uint8_t(v >> (8 * k)));
    }
    std::memcpy(p, e.key.data(), e.key.size());
    p += e.key.size();
    std::memcpy(p, e.cells.data(), e.cells.size());
    p += e.cells.size();
    if (!e.readers.empty()) std::memcpy(p, e.readers.data(), e.readers.size());
    ++count_;
    maxNote_ = std::max(maxNote_, e.note);
    if (buffer_.size() >= kChunkBytes) flush();
  }
  // Writes the last chunk; returns the highest note ID written.
  HTID finish() {
    flush();
    return maxNote_;
  }

 private:
  void begin() {
    buffer_.clear();
    buffer_.push_back(char(kBaseFormat));
    putU32(buffer_, 0);
    count_ = 0;
  }
  void flush() {
    if (count_ == 0) return;
    for (int k = 0; k < 4; ++k) buffer_[size_t(1 + k)] = char(uint8_t(count_ >> (8 * k)));
    insert_->reset();
    insert_->bind(1, int64_t(viewId_)).bind(2, chunk_).bindBlob(3, buffer_.data(), buffer_.size());
    insert_->run();
    if (summary_) {
      const std::string summary = summary_->take().encode();
      insertSummary_->reset();
      insertSummary_->bind(1, int64_t(viewId_)).bind(2, chunk_).bind(3, build_);
      insertSummary_->bindBlob(4, summary.data(), summary.size());
      insertSummary_->run();
    }
    ++chunk_;
    begin();
  }

  // A reader that opened the view before a rebuild must not be handed the new build's
  // chunks as if they were its own: a random number tells the builds apart without asking
  // anything of the file.
  static int64_t newBuildNumber() {
    static std::mutex mutex;
    static std::mt19937_64 rng{std::random_device{}()};
    std::lock_guard lock(mutex);
    return int64_t(rng() >> 2) + 1;
  }

  std::unique_ptr<store::Statement> insert_;
  std::unique_ptr<store::Statement> insertSummary_;
  std::optional<BaseSummaryBuilder> summary_;
  int64_t build_ = 0;
  HTID viewId_;
  std::string buffer_;
  uint32_t count_ = 0;
  int64_t chunk_ = 0;
  HTID maxNote_ = 0;
};

void writeBaseRow(store::Connection& conn, HTID viewId, HTID maxNote) {
  // `entries` is what files before chunks kept the whole base in; it stays empty now.
  conn.prepare("INSERT INTO view_base(view_id, max_note, entries) VALUES(?1, ?2, ?3)")
      ->bind(1, int64_t(viewId))
      .bind(2, int64_t(maxNote))
      .bindBlob(3, "", 0)
      .run();
}

// Files written before chunks keep each view's base as one record: it is split on open. A
// record found damaged then is dropped with the view's meta row, so the view is built again
// from its documents the first time it is read, instead of the database failing to open.
void splitBaseRecords(store::Connection& conn) {
  std::vector<HTID> views;
  {
    auto st = conn.prepare("SELECT view_id FROM view_base WHERE length(entries) > 0 ORDER BY view_id");
    while (st->step()) views.push_back(HTID(st->int64(0)));
  }
  for (HTID viewId : views) {
    store::Blob record;
    {
      auto st = conn.prepare("SELECT entries FROM view_base WHERE view_id = ?1");
      st->bind(1, int64_t(viewId));
      if (st->step()) record = st->blob(0);
    }
    conn.prepare("DELETE FROM view_base_chunks WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
    BaseReader reader;
    bool damaged = !reader.start(std::string_view(reinterpret_cast<const char*>(record.data()), record.size()));
    {
      ChunkWriter writer(conn, viewId);
      BaseEntry e;
      while (!damaged && reader.next(e, damaged)) writer.add(e);
      if (!damaged) writer.finish();
    }
    if (damaged) {
      for (const char* table : {"view_base_chunks", "view_base", "view_base_overrides", "view_entries", "view_meta"})
        conn.prepare(std::string("DELETE FROM ") + table + " WHERE view_id = ?1")->bind(1, int64_t(viewId)).run();
      continue;
    }
    conn.prepare("UPDATE view_base SET entries = ?2 WHERE view_id = ?1")->bind(1, int64_t(viewId)).bindBlob(2, "", 0).run();
  }
}

// The base entries of one view that still count, chunk by chunk in index order: only the
// chunk being read is in memory.
class BaseCursor {
 public:
  BaseCursor(store::Connection& conn, HTID viewId) : conn_(conn), viewId_(viewId) {
    auto st = conn.prepare("SELECT note_id FROM view_base_overrides WHERE view_id = ?1");
    st->bind(1, int64_t(viewId));
    while (st->step()) overridden_.insert(HTID(st->int64(0)));
    chunks_ = conn.prepare("SELECT entries FROM view_base_chunks WHERE view_id = ?1 ORDER BY chunk");
    store::manyRows(*chunks_).bind(1, int64_t(viewId));
    advance();
  }
  bool atEnd() const { return atEnd_; }
  const StoredEntry& current() const { return current_; }
  void advance() {
    BaseEntry e;
    bool damaged = false;
    for (;;) {
      if (!inChunk_ || !reader_.next(e, damaged)) {
        if (damaged) fail();
        if (!chunks_->step()) {
          atEnd_ = true;
          return;
        }
        // In place: the chunk stays valid until the next step of this statement.
        inChunk_ = reader_.start(chunks_->blobView(0));
        if (!inChunk_) fail();
        continue;
      }
      if (overridden_.count(e.note)) continue;
      current_ = StoredEntry{e.note, int64_t(e.parent), e.key, e.cells, nullptr};
      if (e.hasReaders) {
        readers_.assign(e.readers.begin(), e.readers.end());
        current_.readers = &readers_;
      }
      return;
    }
  }

 private:
  [[noreturn]] void fail() {
    raise(HTFAIL_STORAGE_ERROR, "The stored index of view " + std::to_string(viewId_) + " in " + conn_.name() +
                                    " is damaged" + store::damageFindings(conn_));
  }

  store::Connection& conn_;
  HTID viewId_;
  std::unordered_set<HTID> overridden_;
  std::unique_ptr<store::Statement> chunks_;
  BaseReader reader_;
  bool inChunk_ = false;
  bool atEnd_ = false;
  StoredEntry current_;
  store::Blob readers_;
};

// Index order: sort key bytes (shorter first on a common prefix), then note ID.
bool entryBefore(const StoredEntry& a, const StoredEntry& b) {
  const int c = std::memcmp(a.key.data(), b.key.data(), std::min(a.key.size(), b.key.size()));
  if (c != 0) return c < 0;
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size();
  return a.note < b.note;
}

}  // namespace

void rebuild(db::Database& database, store::Connection& conn, const CompiledDesign& d) {
  BuildCache cache(conn, d.folder);
  store::Transaction tx(conn);
  conn.prepare("DELETE FROM view_entries WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  // Entries live in two arenas (keys, cells) rather than two strings each: a build makes one
  // per document, and the allocations cost as much as computing them.
  struct Built {
    size_t keyOffset;
    size_t cellOffset;
    uint32_t keyLength;
    uint32_t cellLength;
    HTID note;
    int32_t readers;  // index into readerLists, or -1
    int64_t parent;
  };
  BuildVector<Built> entries;
  BuildArena keyArena, cellArena;
  std::vector<store::Blob> readerLists;
  index::NoteContext ctx;
  RecordContext recordCtx;
  EntryScratch scratch;
  KeyCache keys;
  // Room for the entries up front, the highest note ID bounding the documents there are:
  // grown by doubling, each array was copied and faulted in at twice its final size, old and
  // new held at once. Only pages written to are ever touched, so room for notes that are
  // gone costs address space, not memory. The arenas are sized the same way once the first
  // entries tell how long theirs run.
  constexpr size_t kSampleEntries = 1024;
  constexpr int64_t kMostRoom = int64_t(1) << 22;
  size_t room = 0;
  if (!d.folder) {
    auto st = conn.prepare("SELECT max(note_id) FROM notes");
    if (st->step() && !st->isNull(0)) room = size_t(std::clamp<int64_t>(st->int64(0), 0, kMostRoom));
  }
  entries.reserve(room);
  uint64_t candidates = 0;
  if (progress::wanted()) {
    auto count = d.folder ? conn.prepare("SELECT count(*) FROM folder_members WHERE folder_id = ?1")
                          : conn.prepare("SELECT count(*) FROM notes WHERE note_class = ?1 AND deleted = 0");
    count->bind(1, d.folder ? int64_t(d.id) : int64_t(nc::kDocument));
    if (count->step()) candidates = uint64_t(count->int64(0));
  }
  progress::Task task((d.folder ? "folder index " : "view index ") + d.design.name, candidates);
  // `passes`: the selection's answer when already known.
  auto addWith = [&](index::NoteContext& context, const store::NoteHeader& header, int32_t readers,
                     std::optional<bool> passes = std::nullopt) {
    task.advance();
    if (!d.folder && !passes.value_or(true)) return;
    if (!d.folder && !passes && !selected(d, context)) return;
    if (header.parent && d.hierarchical()) cache.readingAtRandom();
    const int64_t parent = d.hierarchical() ? parentIdOf(conn, header) : 0;
    forEachEntry(d, context, scratch, &keys, [&](std::string_view key, std::string_view cells) {
      entries.push_back(Built{keyArena.size(), cellArena.size(), uint32_t(key.size()), uint32_t(cells.size()), header.id,
                              readers, parent});
      keyArena += key;
      cellArena += cells;
      if (entries.size() == kSampleEntries && room > kSampleEntries) {
        const double scale = double(room) / double(kSampleEntries) * 1.25;
        keyArena.reserve(size_t(double(keyArena.size()) * scale));
        cellArena.reserve(size_t(double(cellArena.size()) * scale));
      }
    });
  };
  auto addItems = [&](const store::NoteHeader& header, const std::vector<store::StoredItem>& items) {
    scratch.inputs.assign(d.columns.size(), ColumnInput{});
    ctx.bind(header, items);
    int32_t readers = -1;
    if (auto names = readerNames(items)) {
      readerLists.push_back(std::move(*names));
      readers = int32_t(readerLists.size() - 1);
    }
    addWith(ctx, header, readers);
    ctx.unbind();
  };
  {
    DirectReads direct(d);
    forEachDocument(conn, d.folder ? d.id : 0, direct,
                    [&](const store::NoteHeader& header, std::string_view record, bool asciiNames,
                        const std::vector<store::StoredItem>* items, bool bound) {
      if (items) {
        addItems(header, *items);
        return;
      }
      recordCtx.bindRecord(header, record, asciiNames);
      const bool inPlace = bound;
      std::optional<bool> passes;  // a folder holds its members whatever its selection says
      if (!d.folder && inPlace) passes = direct.selects();  // none: the evaluator decides
      if (!d.folder && !passes) passes = selected(d, recordCtx);
      scratch.inputs.assign(d.columns.size(), ColumnInput{});
      // A FIELD assignment in the selection changes what a column reads: the general path.
      if (inPlace && recordCtx.assignments().empty()) direct.columns(scratch.inputs);
      addWith(recordCtx, header, -1, passes);
    });
  }
  recordCtx.unbind();
  keys.clear();
  cache.end();
  // Index order: key bytes, then note.
  BuildVector<uint32_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
  {
    BuildVector<SortKey> sortKeys(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
      sortKeys[i] = {keyArena.data() + entries[i].keyOffset, entries[i].keyLength, entries[i].note};
    sortByKey(order, sortKeys);
  }
  conn.prepare("DELETE FROM view_base WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  conn.prepare("DELETE FROM view_base_chunks WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  conn.prepare("DELETE FROM view_base_summaries WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  conn.prepare("DELETE FROM view_base_overrides WHERE view_id = ?1")->bind(1, int64_t(d.id)).run();
  if (usesBase(d)) {
    ChunkWriter writer(conn, d.id, &d);
    // Responses waiting for their parent stay rows, where resolveWaitingResponses finds them.
    auto waiting = conn.prepare(
        "INSERT INTO view_entries(view_id, sort_key, note_id, parent_id, cells, readers) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    // In index order the entries are read in no order at all: fetch ahead.
    constexpr size_t kAhead = 8;
    for (size_t n = 0; n < order.size(); ++n) {
      if (n + 2 * kAhead < order.size()) __builtin_prefetch(&entries[order[n + 2 * kAhead]]);
      if (n + kAhead < order.size()) {
        const Built& next = entries[order[n + kAhead]];
        __builtin_prefetch(keyArena.data() + next.keyOffset);
        __builtin_prefetch(keyArena.data() + next.keyOffset + (next.keyLength ? next.keyLength - 1 : 0));
        __builtin_prefetch(cellArena.data() + next.cellOffset);
        __builtin_prefetch(cellArena.data() + next.cellOffset + (next.cellLength ? next.cellLength - 1 : 0));
      }
      const Built& e = entries[order[n]];
      const store::Blob* readers = e.readers >= 0 ? &readerLists[size_t(e.readers)] : nullptr;
      const std::string_view key(keyArena.data() + e.keyOffset, e.keyLength);
      const std::string_view cells(cellArena.data() + e.cellOffset, e.cellLength);
      if (e.parent < 0 || e.parent > int64_t(UINT32_MAX)) {
        waiting->reset();
        waiting->bind(1, int64_t(d.id)).bindBlob(2, key.data(), key.size());
        waiting->bind(3, int64_t(e.note)).bind(4, e.parent).bindBlob(5, cells.data(), cells.size());
        if (readers) waiting->bindBlob(6, *readers); else waiting->bindNull(6);
        waiting->run();
        continue;
      }
      BaseEntry out{e.note, uint32_t(e.parent), key, cells, readers != nullptr, {}};
      if (readers) out.readers = std::string_view(reinterpret_cast<const char*>(readers->data()), readers->size());
      writer.add(out);
    }
    writeBaseRow(conn, d.id, writer.finish());
    writeMeta(conn, d);
    tx.commit();
    return;
  }
  // The per-note index takes the entries in note order, which is random here: when this view
  // brings most of the rows, building that index afresh by sorting is several times cheaper.
  const bool reindexNotes = entries.size() >= 1024 && int64_t(entries.size()) * 2 >= countEntries(conn);
  if (reindexNotes) conn.exec("DROP INDEX IF EXISTS view_entries_note");
  auto st = conn.prepare(
      "INSERT INTO view_entries(view_id, sort_key, note_id, parent_id, cells, readers) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  for (uint32_t i : order) {
    const Built& e = entries[i];
    st->reset();
    st->bind(1, int64_t(d.id)).bindBlob(2, keyArena.data() + e.keyOffset, e.keyLength);
    st->bind(3, int64_t(e.note)).bind(4, e.parent).bindBlob(5, cellArena.data() + e.cellOffset, e.cellLength);
    if (e.readers >= 0) st->bindBlob(6, readerLists[size_t(e.readers)]); else st->bindNull(6);
    st->run();
  }
  if (reindexNotes) conn.exec(kNoteIndex);
  writeMeta(conn, d);
  tx.commit();
}

void forEachStoredEntry(store::Connection& conn, HTID viewId, const std::function<void(const StoredEntry&)>& visit) {
  // The base (entries of the last build, minus documents changed since) merged with the rows
  // written since, both in (sort key, note) order.
  BaseCursor base(conn, viewId);
  auto rows = conn.prepare(
      "SELECT note_id, parent_id, sort_key, cells, readers FROM view_entries WHERE view_id = ?1 "
      "ORDER BY sort_key, note_id");
  store::manyRows(*rows).bind(1, int64_t(viewId));
  store::Blob key, cells, readers;
  while (rows->step()) {
    key = rows->blob(2);
    cells = rows->blob(3);
    const bool hasReaders = !rows->isNull(4);
    if (hasReaders) readers = rows->blob(4);
    StoredEntry row{HTID(rows->int64(0)), rows->int64(1),
                    std::string_view(reinterpret_cast<const char*>(key.data()), key.size()),
                    std::string_view(reinterpret_cast<const char*>(cells.data()), cells.size()),
                    hasReaders ? &readers : nullptr};
    for (; !base.atEnd() && entryBefore(base.current(), row); base.advance()) visit(base.current());
    visit(row);
  }
  for (; !base.atEnd(); base.advance()) visit(base.current());
}

bool readBaseOutline(store::Connection& conn, HTID viewId, BaseOutline& out) {
  out = BaseOutline();
  auto any = [&](const char* sql) {
    auto st = conn.prepare(sql);
    st->bind(1, int64_t(viewId));
    return st->step();
  };
  if (any("SELECT 1 FROM view_entries WHERE view_id = ?1 LIMIT 1")) return false;
  if (any("SELECT 1 FROM view_base_overrides WHERE view_id = ?1 LIMIT 1")) return false;
  int64_t chunks = 0;
  {
    auto st = conn.prepare("SELECT count(*) FROM view_base_chunks WHERE view_id = ?1");
    st->bind(1, int64_t(viewId));
    if (st->step()) chunks = st->int64(0);
  }
  auto st = conn.prepare("SELECT chunk, build, summary FROM view_base_summaries WHERE view_id = ?1 ORDER BY chunk");
  st->bind(1, int64_t(viewId));
  while (st->step()) {
    const int64_t chunk = st->int64(0), build = st->int64(1);
    if (chunk != int64_t(out.chunks.size()) || (chunk > 0 && build != out.build)) return false;
    out.build = build;
    out.chunks.emplace_back();
    if (!BaseSummary::decode(st->blobView(2), out.chunks.back())) return false;
  }
  return int64_t(out.chunks.size()) == chunks;
}

void readBaseChunk(store::Connection& conn, HTID viewId, int64_t chunk, int64_t build, uint32_t expected,
                   std::string& bytes, std::vector<ChunkEntry>& entries) {
  entries.clear();
  auto damaged = [&]() {
    raise(HTFAIL_STORAGE_ERROR, "The stored index of view " + std::to_string(viewId) + " in " + conn.name() +
                                    " is damaged" + store::damageFindings(conn));
  };
  // The build number and the bytes in one statement: read apart, a build committed between
  // the two would pass the check and hand over another build's chunk.
  auto st = conn.prepare(
      "SELECT s.build, c.entries IS NULL, c.entries FROM view_base_summaries s LEFT JOIN view_base_chunks c "
      "ON c.view_id = s.view_id AND c.chunk = s.chunk WHERE s.view_id = ?1 AND s.chunk = ?2");
  st->bind(1, int64_t(viewId)).bind(2, chunk);
  if (!st->step() || st->int64(0) != build)
    raise(HTFAIL_CONFLICT, "The view " + std::to_string(viewId) + " in " + conn.name() +
                               " was built again since this index was opened; refresh the index");
  if (st->int64(1)) damaged();
  bytes.assign(st->blobView(2));
  BaseReader reader;
  if (!reader.start(bytes)) damaged();
  entries.reserve(expected);
  BaseEntry e;
  bool bad = false;
  while (reader.next(e, bad)) entries.push_back(ChunkEntry(e.key.data() - kEntryHeader));
  if (bad || entries.size() != expected) damaged();
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

std::shared_ptr<const CompiledDesign> currentDesign(db::Database& database, store::Connection& conn, HTID viewId,
                                                    bool& current) {
  current = true;
  auto d = designOf(database, conn, viewId);
  if (!d) return d;
  const auto indexed = indexedChange(conn);
  current = indexed && *indexed >= store::prop::getInt(conn, store::prop::kChangeCounter, 0) && metaCurrent(conn, *d);
  return d;
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
