// The document model: a note in memory, and the functions that load, save and delete notes.
//
// A `Note` is one document or design note as the engine works on it: its header (store's
// NoteHeader: UNID, class, form, parent, sequence, times), its items in their stored order
// with PLAINTEXT values (store/ItemCodec.h forms; composite items as engine/doc/Composite.h
// encodes them), and its attachments. It is a plain value: copy it, change it, save it.
//
//   auto db = handle->database();
//   auto lock = db->lock();
//   store::Transaction tx(db->conn());
//   auto note = doc::loadNote(*db, db->conn(), id);       // nullopt: no such note
//   note->setText("Subject", "Hello");
//   doc::saveNote(*db, db->conn(), *note);                 // sequence + 1, modified = now
//   tx.commit();
//
// Saving (`saveNote`) writes header, items and attachments in the caller's transaction and
// then calls the note-change observers (NoteEvents.h) on the same connection, so indexes
// change with the note or not at all. Two modes:
//   - SaveMode::Edit: a local change. A new note (header.id 0) gets an ID, a UNID unless one
//     is set, sequence 1 and created = modified = now; an existing one gets sequence + 1 and
//     modified = sequence time = now. The UNID never changes. The "Form" item sets
//     header.form.
//   - SaveMode::Replica: the header is written exactly as given (UNID, sequence, times) for
//     replication and mail delivery of a copy; header.id 0 inserts, else updates that row.
// `deleteNote` turns a note into a deletion stub (UNID and sequence + 1 kept, items and
// attachments gone) and tells the observers.
//
// Attachments: the Note's list is the truth at save time. An entry with `id` > 0 is a row of
// this note that stays; rows of the note not in the list are deleted; entries with id 0 are
// inserted from their `bytes`. To copy a note into ANOTHER database, call `prepareCopy` on the
// source connection first (loads every attachment's bytes, zeroes the IDs).
//
// Encryption: a note holding a "$Seal" item is encrypted. Its items flagged kItemEncrypted
// are stored sealed (AES-256-GCM, engine/doc/Crypto.h) and decrypted by loadNote when this
// data directory holds the key. Without the key those items stay sealed: their names are in
// `sealed`, their values are ciphertext, fetching them fails with HTFAIL_NO_KEY, and saving
// writes them back unchanged. Observers receive the saved note WITHOUT its encrypted items,
// so no index ever holds their text. Its attachments are sealed too (attachments.sealed = 1,
// the file's name authenticated with its bytes); their bytes are opened only with the key,
// and the full-text index leaves sealed attachments out. Files stored in clear before the
// note was encrypted are sealed by its next save; older database files are converted on open
// where the key is here.
//
// Access checks are not made here: the API layer (Document.h) makes them; engine-internal
// writers (mail routing, replication) decide for themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/store/NoteStore.h"
#include "hitest/hitest.h"

namespace quire::engine::db {
class Database;
}

namespace quire::engine::doc {

// Item flag bits (the item flag word of the C API).
constexpr uint32_t kItemSigned = 0x0001;
constexpr uint32_t kItemEncrypted = 0x0002;
constexpr uint32_t kItemAuthors = 0x0020;
constexpr uint32_t kItemNames = 0x0040;
constexpr uint32_t kItemProtected = 0x0200;
constexpr uint32_t kItemReaders = 0x0400;

// Item names with a meaning to the engine.
constexpr const char* kFormItem = "Form";
constexpr const char* kSealItem = "$Seal";            // text: the key id of an encrypted note
constexpr const char* kSignatureItem = "$Signature";  // text list: see Signature.h

struct Attachment {
  int64_t id = 0;  // attachments.attachment_id; 0 = not stored yet
  std::string name;
  uint64_t size = 0;
  HTINT host = HTATTHOST_LOCAL;
  int64_t created = 0;   // packed date-times (core/DateTime.h)
  int64_t modified = 0;
  // The file's bytes: set for an attachment not stored yet, or once loaded; null while they
  // are only in the store (read them with attachmentBytes).
  std::shared_ptr<const store::Blob> bytes;
  // `bytes` are still sealed: the note is encrypted with a key this data directory lacks.
  // Such bytes travel as they are (replication, copies) and are never handed to a caller.
  bool sealedBytes = false;
};

class Note {
 public:
  store::NoteHeader header;
  std::vector<store::StoredItem> items;
  std::vector<Attachment> attachments;
  std::vector<std::string> sealed;  // encrypted items whose key is missing (values are ciphertext)

  // The first item of that name, compared without regard to case; nullptr when none.
  store::StoredItem* find(std::string_view name);
  const store::StoredItem* find(std::string_view name) const;
  // Replaces the value, type and flags of the first item of that name in its place, or
  // appends a new item (HTFAIL_INVALID_ARGUMENT, thrown, past HT_MAX_DOCUMENT_ITEMS).
  void put(store::StoredItem item);
  // The same, for a caller that has just looked the name up: `existing` is what find gave
  // for item.name, with nothing changed since, so the items are not searched again.
  void put(store::StoredItem item, store::StoredItem* existing);
  // Removes every item of that name; false when there was none.
  bool remove(std::string_view name);

  void setText(std::string_view name, std::string_view text, uint32_t flags = 0);
  void setTextList(std::string_view name, const std::vector<std::string>& entries, uint32_t flags = 0);
  void setNumber(std::string_view name, double value, uint32_t flags = 0);
  void setDateTime(std::string_view name, const HTDATETIME& value, uint32_t flags = 0);
  // The item as text (numbers, date-times, lists and rich text rendered as HTItemFetch does
  // with HTTYPE_TEXT); "" when absent or sealed.
  std::string text(std::string_view name) const;
  // The item's entries: a text list's entries, a text as one entry (none when empty).
  std::vector<std::string> textList(std::string_view name) const;

  bool isSealed(std::string_view name) const;
  bool isEncrypted() const { return find(kSealItem) != nullptr; }
  bool isResponse() const { return header.parent.has_value(); }

  Attachment* findAttachment(std::string_view name);

 private:
  // Finding an item by name must not cost a pass over the items, or filling a document
  // item by item is quadratic. The index maps each folded name to its first position; it
  // belongs to the `items` it was built from (their buffer and count) and is rebuilt when
  // they were changed behind its back.
  struct NameIndex {
    std::unordered_map<std::string, size_t> first;
    const store::StoredItem* data = nullptr;
    size_t size = 0;
  };
  size_t position(std::string_view name) const;  // items.size() when there is none
  void indexAll() const;
  mutable NameIndex index_;
};

// A new, unsaved note of that class (ID 0, no UNID yet, sequence 0).
Note newNote(uint32_t noteClass = store::note_class::kDocument);

// The note with its items decrypted where this data directory holds the key; nullopt when
// there is no such note ID. A deletion stub loads too (header.deleted, no items).
// `attachmentBytes` also reads every attachment's bytes.
std::optional<Note> loadNote(db::Database& database, store::Connection& conn, HTID id,
                             bool attachmentBytes = false);

enum class SaveMode { Edit, Replica };

// Writes the note (see the top of this file) and notifies the observers. Fills header.id,
// unid, sequence, times and change_seq, and the IDs of newly stored attachments. Throws
// Error (HTFAIL_NO_KEY when encrypted items must be sealed and the key is missing,
// HTFAIL_NOTE_NOT_FOUND when header.id names no note, storage errors).
void saveNote(db::Database& database, store::Connection& conn, Note& note, SaveMode mode = SaveMode::Edit);

// Makes the note a deletion stub and notifies the observers. HTFAIL_NOTE_NOT_FOUND (thrown)
// for an unknown ID; a stub stays a stub (no error, nothing changes).
void deleteNote(db::Database& database, store::Connection& conn, HTID id);

// The bytes of a stored attachment of `note` (throws HTFAIL_ATTACH_NOT_FOUND when the row
// is gone), opened with the note's key when they are sealed. Without the key they come back
// sealed and `stillSealed` is set; callers must not hand such bytes out.
store::Blob attachmentBytes(store::Connection& conn, const Note& note, int64_t attachmentId, bool& stillSealed);

// Loads every attachment's bytes and zeroes the attachment IDs and header.id, so that
// saveNote on another database inserts the note with all its files (UNID kept).
void prepareCopy(store::Connection& from, Note& note);

}  // namespace quire::engine::doc
