#include "engine/store/NoteStore.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>

#include "engine/core/DateTime.h"
#include "engine/core/Process.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/Items.h"
#include "engine/store/ManyRows.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store {
namespace {

constexpr const char* kNoteColumns =
    "note_id, unid, note_class, form, parent_unid, sequence, sequence_time, change_seq, created, modified, "
    "accessed, deleted, design_name, design_alias, design_flags, owner";

std::atomic<NoteAccessNamesFn> gAccessNames{nullptr};

// The names of a note's access columns, joined by a unit separator that no name key holds
// (accessNames drops names with control characters), so one text parameter carries a list
// that string_to_array() splits again; NULL stays NULL.
void bindNames(Statement& st, int index, const std::optional<std::vector<std::string>>& names) {
  if (!names) {
    st.bindNull(index);
    return;
  }
  std::string joined;
  for (const std::string& n : *names) {
    if (!joined.empty()) joined += '\x1f';
    joined += n;
  }
  st.bind(index, joined);
}

bool keepsAccessNames(Connection& conn) { return conn.dialect() == Dialect::Postgres && gAccessNames.load(); }

NoteHeader readHeader(Statement& st) {
  NoteHeader n;
  n.id = HTID(st.int64(0));
  n.unid = unidFromBlob(st.blob(1));
  n.noteClass = uint32_t(st.int64(2));
  n.form = st.text(3);
  if (!st.isNull(4)) n.parent = unidFromBlob(st.blob(4));
  n.sequence = st.int64(5);
  n.sequenceTime = st.int64(6);
  n.changeSeq = st.int64(7);
  n.created = st.int64(8);
  n.modified = st.int64(9);
  n.accessed = st.int64(10);
  n.deleted = st.int64(11) != 0;
  n.designName = st.text(12);
  n.designAlias = st.text(13);
  n.designFlags = uint32_t(st.int64(14));
  n.owner = st.text(15);
  return n;
}

// Binds columns 2.. of kNoteColumns starting at parameter `first`.
void bindHeader(Statement& st, const NoteHeader& n, int first) {
  int i = first;
  st.bindBlob(i++, unidBlob(n.unid));
  st.bind(i++, int64_t(n.noteClass));
  st.bind(i++, n.form);
  if (n.parent) st.bindBlob(i++, unidBlob(*n.parent)); else st.bindNull(i++);
  st.bind(i++, n.sequence);
  st.bind(i++, n.sequenceTime);
  st.bind(i++, n.changeSeq);
  st.bind(i++, n.created);
  st.bind(i++, n.modified);
  st.bind(i++, n.accessed);
  st.bind(i++, int64_t(n.deleted ? 1 : 0));
  st.bind(i++, n.designName);
  st.bind(i++, n.designAlias);
  st.bind(i++, int64_t(n.designFlags));
  st.bind(i, n.owner);
}

void markModified(Connection& conn, uint32_t noteClass, int64_t when) {
  prop::setLater(conn, note_class::isDesign(noteClass) ? prop::kDesignModified : prop::kDataModified, when);
}

bool visibleTo(const DesignEntry& e, const std::string& user) {
  if (!(e.flags & kDesignFlagPrivate) || user == "*") return true;
  return !user.empty() && equalsNoCase(e.owner, user);
}

bool nameMatches(const DesignEntry& e, const std::string& folded) {
  if (foldCase(e.name) == folded) return true;
  std::string_view aliases = e.alias;
  while (!aliases.empty()) {
    size_t bar = aliases.find('|');
    if (foldCase(trim(aliases.substr(0, bar))) == folded) return true;
    aliases = bar == std::string_view::npos ? std::string_view() : aliases.substr(bar + 1);
  }
  return false;
}

}  // namespace

UNID newUnid() {
  // The stored bytes lead with the creation time, so a new note's UNID sorts after those
  // before it and lands at the end of the UNID index instead of dirtying a random page of
  // it: with random UNIDs every commit of a large database rewrote pages all over the index.
  // A counter orders the UNIDs one process makes within a millisecond (and carries into the
  // time when it runs over, or when the clock steps back); the random tail keeps UNIDs of
  // other processes and machines apart.
  struct Clock {
    std::mutex mutex;
    uint64_t millis = 0;
    uint32_t counter = 0;
  };
  static Clock* clock = new Clock;  // never destroyed: exit handlers may still save
  uint64_t millis;
  uint32_t counter;
  {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto nowMillis = uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    std::lock_guard lock(clock->mutex);
    if (nowMillis > clock->millis) {
      clock->millis = nowMillis;
      clock->counter = 0;
    } else if (++clock->counter > 0xFFFF) {
      ++clock->millis;
      clock->counter = 0;
    }
    millis = clock->millis;
    counter = clock->counter;
  }
  // Reseeded after a fork, so parent and child do not draw the same tails.
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static thread_local pid_t seededFor = currentProcess();
  if (seededFor != currentProcess()) {
    seededFor = currentProcess();
    rng.seed(std::random_device{}());
  }
  const uint64_t tail = rng();
  std::string bytes(16, '\0');
  for (int i = 0; i < 6; ++i) bytes[size_t(i)] = char(millis >> (8 * (5 - i)));
  bytes[6] = char(counter >> 8);
  bytes[7] = char(counter);
  for (int i = 0; i < 8; ++i) bytes[size_t(8 + i)] = char(tail >> (8 * i));
  return unidFromBytes(bytes);
}

Blob unidBlob(const UNID& unid) {
  Blob b(16);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) b[size_t(i * 4 + k)] = uint8_t(unid.words[i] >> (8 * k));
  return b;
}

UNID unidFromBlob(const Blob& b) {
  return unidFromBytes(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

UNID unidFromBytes(std::string_view b) {
  UNID u{};
  if (b.size() != 16) return u;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) u.words[i] |= uint32_t(uint8_t(b[size_t(i * 4 + k)])) << (8 * k);
  return u;
}

int64_t nextChange(Connection& conn) {
  int64_t next = prop::getInt(conn, prop::kChangeCounter, 0) + 1;
  prop::setLater(conn, prop::kChangeCounter, next);
  return next;
}

HTID insertNote(Connection& conn, NoteHeader& n, const std::vector<StoredItem>* items) {
  const int64_t now = dt::pack(dt::now());
  bool zero = true;
  for (uint32_t w : n.unid.words) zero = zero && w == 0;
  if (zero) n.unid = newUnid();
  if (n.created == 0) n.created = now;
  if (n.modified == 0) n.modified = now;
  if (n.sequenceTime == 0) n.sequenceTime = now;
  n.changeSeq = nextChange(conn);
  // An ID the backend drew ahead: nothing reads this INSERT's answer, so it may go with the
  // commit (ManyRows.h). Not inside a batch, where the commit comes only with a later write:
  // a failing INSERT must fail this save, not the batch it left behind.
  const std::optional<int64_t> drawn = n.id ? std::nullopt : conn.takeNoteId();
  if (drawn) n.id = HTID(*drawn);
  const bool access = keepsAccessNames(conn);
  auto st = conn.prepare(
      access ? "INSERT INTO notes(note_id, unid, note_class, form, parent_unid, sequence, sequence_time, change_seq, "
               "created, modified, accessed, deleted, design_name, design_alias, design_flags, owner, items, item_flags, "
               "readers, authors) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, "
               "?18, string_to_array(?19, chr(31)), string_to_array(?20, chr(31)))"
             : "INSERT INTO notes(note_id, unid, note_class, form, parent_unid, sequence, sequence_time, change_seq, "
               "created, modified, accessed, deleted, design_name, design_alias, design_flags, owner, items, item_flags) "
               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)");
  if (n.id) st->bind(1, int64_t(n.id)); else st->bindNull(1);
  bindHeader(*st, n, 2);
  if (items && !items->empty()) st->bindBlob(17, encodeItems(*items)).bind(18, int64_t(itemFlags(*items)));
  else st->bindNull(17).bind(18, int64_t(0));
  if (access) {
    const NoteAccessNames names = items ? gAccessNames.load()(*items) : NoteAccessNames{};
    bindNames(*st, 19, names.readers);
    bindNames(*st, 20, names.authors);
  }
  if (drawn && !batchOpen(conn)) atCommit(*st);
  st->run();
  if (!drawn) n.id = HTID(conn.lastInsertId());
  markModified(conn, n.noteClass, n.modified);
  return n.id;
}

std::optional<NoteHeader> readNote(Connection& conn, HTID id) {
  auto st = conn.prepare(std::string("SELECT ") + kNoteColumns + " FROM notes WHERE note_id = ?1");
  st->bind(1, int64_t(id));
  if (!st->step()) return std::nullopt;
  return readHeader(*st);
}

std::optional<NoteRecord> readNoteRecord(Connection& conn, HTID id) {
  auto st = conn.prepare(std::string("SELECT ") + kNoteColumns +
                         ", items, EXISTS(SELECT 1 FROM attachments WHERE note_id = ?1) FROM notes WHERE note_id = ?1");
  st->bind(1, int64_t(id));
  if (!st->step()) return std::nullopt;
  NoteRecord out{readHeader(*st), {}, st->int64(17) != 0};
  if (!st->isNull(16) && !decodeItems(st->blob(16), out.items))
    raise(HTFAIL_STORAGE_ERROR, damagedItemsMessage(conn, id));
  return out;
}

std::optional<HTID> findByUnid(Connection& conn, const UNID& unid) {
  auto st = conn.prepare("SELECT note_id FROM notes WHERE unid = ?1");
  st->bindBlob(1, unidBlob(unid));
  if (!st->step()) return std::nullopt;
  return HTID(st->int64(0));
}

void updateNote(Connection& conn, const NoteHeader& n) {
  auto st = conn.prepare(
      "UPDATE notes SET unid = ?2, note_class = ?3, form = ?4, parent_unid = ?5, sequence = ?6, "
      "sequence_time = ?7, change_seq = ?8, created = ?9, modified = ?10, accessed = ?11, deleted = ?12, "
      "design_name = ?13, design_alias = ?14, design_flags = ?15, owner = ?16 WHERE note_id = ?1");
  st->bind(1, int64_t(n.id));
  bindHeader(*st, n, 2);
  st->run();
}

void touch(Connection& conn, HTID id) {
  auto note = readNote(conn, id);
  if (!note) return;
  const int64_t now = dt::pack(dt::now());
  auto st = conn.prepare(
      "UPDATE notes SET sequence = sequence + 1, modified = ?2, sequence_time = ?2, change_seq = ?3 "
      "WHERE note_id = ?1");
  st->bind(1, int64_t(id)).bind(2, now).bind(3, nextChange(conn)).run();
  markModified(conn, note->noteClass, now);
}

void makeStub(Connection& conn, HTID id) {
  conn.prepare("DELETE FROM attachments WHERE note_id = ?1")->bind(1, int64_t(id)).run();
  conn.prepare("UPDATE notes SET deleted = 1, items = NULL, item_flags = 0 WHERE note_id = ?1")->bind(1, int64_t(id)).run();
  touch(conn, id);
}

std::vector<HTID> changedSince(Connection& conn, int64_t changeSeq) {
  auto st = conn.prepare("SELECT note_id FROM notes WHERE change_seq > ?1 ORDER BY change_seq");
  st->bind(1, changeSeq);
  std::vector<HTID> out;
  while (st->step()) out.push_back(HTID(st->int64(0)));
  return out;
}

std::vector<StoredItem> readItems(Connection& conn, HTID id) {
  auto st = conn.prepare("SELECT items FROM notes WHERE note_id = ?1");
  st->bind(1, int64_t(id));
  std::vector<StoredItem> out;
  if (!st->step()) return out;
  const Blob record = st->blob(0);
  if (!decodeItems(record, out))
    raise(HTFAIL_STORAGE_ERROR, damagedItemsMessage(conn, id));
  return out;
}

std::string damagedItemsMessage(Connection& conn, HTID id) {
  return "The items of note " + std::to_string(id) + " in " + conn.name() + " are damaged" + damageFindings(conn);
}

void writeItems(Connection& conn, HTID id, const std::vector<StoredItem>& items) {
  const bool access = keepsAccessNames(conn);
  auto st = conn.prepare(access ? "UPDATE notes SET items = ?2, item_flags = ?3, readers = string_to_array(?4, chr(31)), "
                                  "authors = string_to_array(?5, chr(31)) WHERE note_id = ?1"
                                : "UPDATE notes SET items = ?2, item_flags = ?3 WHERE note_id = ?1");
  st->bind(1, int64_t(id));
  if (items.empty()) st->bindNull(2);
  else st->bindBlob(2, encodeItems(items));
  st->bind(3, int64_t(itemFlags(items)));
  if (access) {
    const NoteAccessNames names = gAccessNames.load()(items);
    bindNames(*st, 4, names.readers);
    bindNames(*st, 5, names.authors);
  }
  st->run();
}

void setNoteAccessNamesFunction(NoteAccessNamesFn fn) { gAccessNames.store(fn); }

std::vector<DesignEntry> listDesign(Connection& conn, uint32_t noteClass, const std::string& user) {
  auto st = conn.prepare(
      "SELECT note_id, note_class, design_flags, design_name, design_alias, owner FROM notes "
      "WHERE note_class = ?1 AND deleted = 0 ORDER BY design_name COLLATE NOCASE, note_id");
  st->bind(1, int64_t(noteClass));
  std::vector<DesignEntry> out;
  while (st->step()) {
    DesignEntry e{HTID(st->int64(0)), uint32_t(st->int64(1)), uint32_t(st->int64(2)), st->text(3), st->text(4),
                  st->text(5)};
    if (visibleTo(e, user)) out.push_back(std::move(e));
  }
  return out;
}

std::optional<DesignEntry> findDesign(Connection& conn, uint32_t noteClass, std::string_view name,
                                      const std::string& user) {
  const std::string folded = foldCase(trim(name));
  std::optional<DesignEntry> shared;
  for (DesignEntry& e : listDesign(conn, noteClass, user)) {
    if (!nameMatches(e, folded)) continue;
    if (e.flags & kDesignFlagPrivate) return e;
    if (!shared) shared = e;
  }
  return shared;
}

}  // namespace quire::engine::store
