// Generic access to notes (documents and design notes) and their items.
//
// A note row carries what every area needs without reading items: class, form, parent,
// sequence, times, deletion flag, and for design notes their name, aliases, flags and owner
// (a private folder's creator). Items are an ordered list per note, kept in the note's row
// (store/Items.h). Deleting a note leaves a
// stub (deleted = 1, items and attachments removed) so replication can carry the deletion.
//
// Every change of a note takes a fresh `change_seq` from the database's change counter:
// readers that remember the last change they saw (view indexes, replication, full text)
// find what changed since with `changedSince`. Writers call `touch` (or insert/stub), which
// also moves the database's data- or design-modified time.
//
// All functions run on a Connection the caller has locked (db::Database::lock) and, for
// writes, inside a store::Transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/store/Storage.h"
#include "hitest/hitest.h"

namespace quire::engine::store {

// Note classes as stored in notes.note_class (and reported in HTLISTREC.noteClass).
// Folders are views with the folder bit, so `cls & kNoteView` matches both.
namespace note_class {
constexpr uint32_t kDocument = 0x0001;
constexpr uint32_t kInfo = 0x0002;
constexpr uint32_t kForm = 0x0004;
constexpr uint32_t kView = 0x0008;
constexpr uint32_t kIcon = 0x0010;
constexpr uint32_t kDesign = 0x0020;
constexpr uint32_t kAcl = 0x0040;
constexpr uint32_t kHelpIndex = 0x0080;
constexpr uint32_t kHelp = 0x0100;
constexpr uint32_t kAgent = 0x0200;
constexpr uint32_t kSharedField = 0x0400;
constexpr uint32_t kReplFormula = 0x0800;
constexpr uint32_t kFolder = 0x10000 | kView;
inline bool isDesign(uint32_t cls) { return cls != kDocument; }
}  // namespace note_class

// notes.design_flags bits the core interprets.
constexpr uint32_t kDesignFlagPrivate = 0x2000;  // = HTVIEWFLAG_PRIVATE: visible to `owner` only

// Who may read a note and who is named as its author, as name keys: `readers` is empty when
// the note has no Readers item (anyone with access reads it), else the names of its Readers
// and Authors items; `authors` the names of its Authors items. On PostgreSQL these go into
// notes.readers and notes.authors in the same statement as the items, where the server's
// row-level security reads them; SQLite stores neither. The session layer installs the
// function that computes them, since it owns how names compare (db/ServerSecurity.h).
struct NoteAccessNames {
  std::optional<std::vector<std::string>> readers;
  std::optional<std::vector<std::string>> authors;
};
struct StoredItem;
using NoteAccessNamesFn = NoteAccessNames (*)(const std::vector<StoredItem>& items);
void setNoteAccessNamesFunction(NoteAccessNamesFn fn);

struct NoteHeader {
  HTID id = 0;
  UNID unid{};
  uint32_t noteClass = note_class::kDocument;
  std::string form;
  std::optional<UNID> parent;
  int64_t sequence = 1;
  int64_t sequenceTime = 0;  // packed date-time of the last change (replication)
  int64_t changeSeq = 0;
  int64_t created = 0;       // packed date-times
  int64_t modified = 0;
  int64_t accessed = 0;
  bool deleted = false;
  std::string designName;
  std::string designAlias;   // aliases joined with '|'
  uint32_t designFlags = 0;
  std::string owner;
};

struct StoredItem {
  std::string name;
  HTINT type = HTTYPE_TEXT;
  uint32_t flags = 0;
  Blob value;
};

// A new UNID: creation time (milliseconds, then a per-process counter) in its leading stored
// bytes, so UNIDs made later sort after earlier ones, and 64 random bits.
UNID newUnid();
Blob unidBlob(const UNID& unid);
UNID unidFromBlob(const Blob& blob);
UNID unidFromBytes(std::string_view bytes);  // all-zero unless exactly 16 bytes

// Takes the next change number of the database.
int64_t nextChange(Connection& conn);

// Inserts `note` (id 0: assigned; unid all-zero: a new one), filling id, unid, change_seq
// and, when 0, created/modified/sequence_time with now, with `items` when given (one write
// instead of an insert and a writeItems). Returns the note ID.
HTID insertNote(Connection& conn, NoteHeader& note, const std::vector<StoredItem>* items = nullptr);
std::optional<NoteHeader> readNote(Connection& conn, HTID id);
// The header and the items of a note in one read (opening a document needs both), and
// whether it has attachments (not read here). Throws Error when its items are damaged.
struct NoteRecord {
  NoteHeader header;
  std::vector<StoredItem> items;
  bool hasAttachments = false;
};
std::optional<NoteRecord> readNoteRecord(Connection& conn, HTID id);
std::optional<HTID> findByUnid(Connection& conn, const UNID& unid);
// Writes every header column of `note` as given (no bookkeeping).
void updateNote(Connection& conn, const NoteHeader& note);
// Records a change: sequence + 1, modified and sequence_time = now, a new change_seq, and
// the database's data- or design-modified time.
void touch(Connection& conn, HTID id);
// Turns the note into a deletion stub.
void makeStub(Connection& conn, HTID id);
// Live notes changed after `changeSeq` (stubs included), in change order.
std::vector<HTID> changedSince(Connection& conn, int64_t changeSeq);

// The note's items in order (store/Items.h keeps them as one record per note); a damaged
// record fails with HTFAIL_STORAGE_ERROR rather than handing out part of the note.
std::vector<StoredItem> readItems(Connection& conn, HTID id);
// The message for a note whose item record does not decode, with what the backend's
// structural check finds (store/Storage.h damageFindings).
std::string damagedItemsMessage(Connection& conn, HTID id);
// Replaces every item of the note by `items`, in order.
void writeItems(Connection& conn, HTID id, const std::vector<StoredItem>& items);

// Design notes of a class (exact class match), live only, in name order. Private notes of
// other users than `user` are left out (pass "" to see none of them, "*" to see all).
struct DesignEntry {
  HTID id = 0;
  uint32_t noteClass = 0;
  uint32_t flags = 0;
  std::string name;
  std::string alias;
  std::string owner;
};
std::vector<DesignEntry> listDesign(Connection& conn, uint32_t noteClass, const std::string& user);
// The design note of that class whose name or any alias equals `name` without regard to
// case; a private note of `user` wins over a shared one of the same name.
std::optional<DesignEntry> findDesign(Connection& conn, uint32_t noteClass, std::string_view name,
                                      const std::string& user);

}  // namespace quire::engine::store
