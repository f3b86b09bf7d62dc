#include "engine/doc/Note.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/doc/Crypto.h"
#include "engine/doc/NoteEvents.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/Schema.h"
#include "engine/store/Properties.h"

namespace quire::engine::doc {
namespace {

std::string keyIdOf(const Note& note) {
  const store::StoredItem* seal = note.find(kSealItem);
  return seal ? std::string(seal->value.begin(), seal->value.end()) : std::string();
}

bool encryptedItem(const Note& note, const store::StoredItem& item) {
  return (item.flags & kItemEncrypted) && note.isEncrypted();
}

// Opens the sealed items of an encrypted note where the key is here.
void unsealItems(Note& note) {
  if (!note.isEncrypted()) return;
  const std::optional<crypto::Key> key = crypto::loadKey(keyIdOf(note));
  for (store::StoredItem& item : note.items) {
    if (!(item.flags & kItemEncrypted) || !crypto::isSealed(item.value)) continue;
    store::Blob plain;
    if (key && crypto::unseal(*key, item.name, item.value, plain)) item.value = std::move(plain);
    else note.sealed.push_back(item.name);
  }
}

// The items as they go into the items table: encrypted ones sealed.
std::vector<store::StoredItem> storedForm(const Note& note) {
  if (!note.isEncrypted()) return note.items;
  std::vector<store::StoredItem> out = note.items;
  std::optional<crypto::Key> key;
  for (store::StoredItem& item : out) {
    if (!(item.flags & kItemEncrypted) || note.isSealed(item.name)) continue;
    if (!key) {
      key = crypto::loadKey(keyIdOf(note));
      if (!key)
        raise(HTFAIL_NO_KEY, "The key " + keyIdOf(note) + " that seals this document is not in this data directory");
    }
    item.value = crypto::seal(*key, item.name, item.value);
  }
  return out;
}

// A file's bytes are sealed under the name of the file, so sealed bytes moved to another
// attachment do not open.
std::string fileSealName(std::string_view name) { return "$file:" + std::string(name); }

// The bytes of `a` as the attachments table holds them for `note`: sealed when the note is
// encrypted. Returns whether they are sealed.
bool storedFileBytes(const Note& note, const Attachment& a, std::optional<crypto::Key>& key, store::Blob& out) {
  if (a.sealedBytes) {
    out = *a.bytes;
    return true;
  }
  if (!note.isEncrypted()) {
    out = *a.bytes;
    return false;
  }
  if (!key) {
    key = crypto::loadKey(keyIdOf(note));
    if (!key) raise(HTFAIL_NO_KEY, "The key " + keyIdOf(note) + " that seals this document is not in this data directory");
  }
  out = crypto::seal(*key, fileSealName(a.name), *a.bytes);
  return true;
}

// Opens sealed file bytes with the note's key; false (bytes untouched) without it.
bool openFileBytes(const Note& note, std::string_view name, store::Blob& bytes) {
  const std::optional<crypto::Key> key = crypto::loadKey(keyIdOf(note));
  store::Blob plain;
  if (!key || !crypto::unseal(*key, fileSealName(name), bytes, plain)) return false;
  bytes = std::move(plain);
  return true;
}

// Adds attachments.sealed. Files of encrypted notes that older files hold in clear are sealed
// where the key is here; their text leaves the full-text index (the note's row goes, and the
// index is merged so no segment keeps their words) until the note is saved again.
void sealOldAttachments(store::Connection& conn) {
  conn.exec("ALTER TABLE attachments ADD COLUMN sealed INTEGER NOT NULL DEFAULT 0");
  std::vector<std::pair<HTID, std::string>> encrypted;  // note, key id
  {
    auto st = conn.prepare(
        "SELECT note_id, items FROM notes WHERE (item_flags & ?1) != 0 AND deleted = 0 AND "
        "note_id IN (SELECT note_id FROM attachments)");
    st->bind(1, int64_t(kItemEncrypted));
    while (st->step()) {
      // The record must outlive `seal`, which points into it.
      const auto record = st->blob(1);
      store::ItemRef seal;
      if (!store::findItem(record, kSealItem, seal)) continue;
      encrypted.emplace_back(HTID(st->int64(0)), std::string(reinterpret_cast<const char*>(seal.value), seal.size));
    }
  }
  bool ftStale = false;
  auto rows = conn.prepare("SELECT attachment_id, name, bytes FROM attachments WHERE note_id = ?1 AND sealed = 0");
  auto update = conn.prepare("UPDATE attachments SET bytes = ?2, sealed = 1 WHERE attachment_id = ?1");
  for (const auto& [note, keyId] : encrypted) {
    const std::optional<crypto::Key> key = crypto::loadKey(keyId);
    if (!key) continue;
    std::vector<std::pair<int64_t, store::Blob>> sealedRows;
    rows->reset();
    rows->bind(1, int64_t(note));
    while (rows->step()) sealedRows.emplace_back(rows->int64(0), crypto::seal(*key, fileSealName(rows->text(1)), rows->blob(2)));
    for (const auto& [id, bytes] : sealedRows) {
      update->reset();
      update->bind(1, id).bindBlob(2, bytes).run();
    }
    ftStale = ftStale || !sealedRows.empty();
    if (!sealedRows.empty() && store::tableExists(conn, "ft_index"))
      conn.prepare("DELETE FROM ft_index WHERE rowid = ?1")->bind(1, int64_t(note)).run();
  }
  if (ftStale && conn.dialect() == store::Dialect::Sqlite && store::tableExists(conn, "ft_index")) conn.exec("INSERT INTO ft_index(ft_index) VALUES('optimize')");
}

const bool kAttachmentsPart = store::registerSchemaPart({"attachments", 1, [](store::Connection& c, int from) {
                                                           if (from < 1) sealOldAttachments(c);
                                                         }});

void syncForm(Note& note) {
  const store::StoredItem* form = note.find(kFormItem);
  if (!form) {
    if (!store::note_class::isDesign(note.header.noteClass)) note.header.form.clear();
    return;
  }
  if (form->type == HTTYPE_TEXT) note.header.form.assign(form->value.begin(), form->value.end());
  else if (form->type == HTTYPE_TEXT_LIST) {
    std::vector<std::string> entries;
    store::codec::decodeTextList(form->value, entries);
    note.header.form = entries.empty() ? "" : entries.front();
  }
}

void markModified(store::Connection& conn, const store::NoteHeader& header) {
  store::prop::setLater(conn, store::note_class::isDesign(header.noteClass) ? store::prop::kDesignModified
                                                                          : store::prop::kDataModified,
                   header.modified);
}

std::vector<int64_t> attachmentRows(store::Connection& conn, HTID id) {
  auto st = conn.prepare("SELECT attachment_id FROM attachments WHERE note_id = ?1");
  st->bind(1, int64_t(id));
  std::vector<int64_t> out;
  while (st->step()) out.push_back(st->int64(0));
  return out;
}

// Rows of an encrypted note still in clear (stored before it was encrypted) are sealed now.
void sealKeptRows(store::Connection& conn, Note& note, const std::set<int64_t>& keep, std::optional<crypto::Key>& key) {
  if (!note.isEncrypted() || keep.empty()) return;
  auto st = conn.prepare("SELECT name, bytes FROM attachments WHERE attachment_id = ?1 AND sealed = 0");
  auto update = conn.prepare("UPDATE attachments SET bytes = ?2, sealed = 1 WHERE attachment_id = ?1");
  for (int64_t row : keep) {
    st->reset();
    st->bind(1, row);
    if (!st->step()) continue;
    Attachment clear;
    clear.name = st->text(0);
    clear.bytes = std::make_shared<const store::Blob>(st->blob(1));
    store::Blob bytes;
    storedFileBytes(note, clear, key, bytes);
    update->reset();
    update->bind(1, row).bindBlob(2, bytes).run();
  }
}

void saveAttachments(store::Connection& conn, Note& note) {
  const std::vector<int64_t> rows = attachmentRows(conn, note.header.id);
  std::set<int64_t> keep;
  for (Attachment& a : note.attachments) {
    if (a.id > 0 && std::find(rows.begin(), rows.end(), a.id) != rows.end()) keep.insert(a.id);
    else if (a.id > 0 && !a.bytes)
      raise(HTFAIL_ATTACH_NOT_FOUND, "Attachment " + a.name + " is not stored with this document");
    else a.id = 0;  // bytes of another note's row: stored anew
  }
  auto del = conn.prepare("DELETE FROM attachments WHERE attachment_id = ?1");
  for (int64_t row : rows) {
    if (keep.count(row)) continue;
    del->reset();
    del->bind(1, row).run();
  }
  std::optional<crypto::Key> key;
  sealKeptRows(conn, note, keep, key);
  auto ins = conn.prepare(
      "INSERT INTO attachments(note_id, name, bytes, size, host, created, modified, sealed) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  for (Attachment& a : note.attachments) {
    if (a.id > 0) continue;
    if (!a.bytes) raise(HTFAIL_ATTACH_NOT_FOUND, "Attachment " + a.name + " has no content to store");
    store::Blob bytes;
    const bool sealed = storedFileBytes(note, a, key, bytes);
    // Sealed bytes carry the size of the file they hold, not their own.
    const uint64_t size = a.sealedBytes ? a.size : a.bytes->size();
    ins->reset();
    ins->bind(1, int64_t(note.header.id)).bind(2, a.name).bindBlob(3, bytes);
    ins->bind(4, int64_t(size)).bind(5, int64_t(a.host)).bind(6, a.created).bind(7, a.modified);
    ins->bind(8, int64_t(sealed ? 1 : 0));
    ins->run();
    a.id = conn.lastInsertId();
    a.size = size;
  }
}

// Item names are nearly always ASCII: compare those without building folded copies, and
// without a pass over both names when their lengths differ.
inline unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool sameName(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if ((x | y) >= 0x80) return equalsNoCase(a, b);
    if (asciiLower(x) != asciiLower(y)) return false;
  }
  // One name is an ASCII prefix of the other. Only folding that is not ASCII could still make
  // them equal; leave that to the full comparison.
  if (a.size() == b.size()) return true;
  const std::string_view rest = a.size() > b.size() ? a.substr(common) : b.substr(common);
  const bool ascii = std::all_of(rest.begin(), rest.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? false : equalsNoCase(a, b);
}

// Most names of a note already differ in their first letter; settling that here, before the
// call, halves the cost of finding an item by name in a small note.
inline bool differInFirstLetter(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return false;
  const auto x = static_cast<unsigned char>(a[0]), y = static_cast<unsigned char>(b[0]);
  return (x | y) < 0x80 && asciiLower(x) != asciiLower(y);
}

}  // namespace

// ---- Note ----------------------------------------------------------------------------

namespace {

// Below this many items a pass over them is cheaper than keeping the index.
constexpr size_t kIndexFrom = 16;

std::string nameKey(std::string_view name) {
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) return foldCase(name);
  std::string key(name);
  for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

void Note::indexAll() const {
  index_.first.clear();
  for (size_t i = 0; i < items.size(); ++i) index_.first.emplace(nameKey(items[i].name), i);
  index_.data = items.data();
  index_.size = items.size();
}

size_t Note::position(std::string_view name) const {
  if (items.size() < kIndexFrom) {
    for (size_t i = 0; i < items.size(); ++i)
      if (!differInFirstLetter(items[i].name, name) && sameName(items[i].name, name)) return i;
    return items.size();
  }
  if (index_.data != items.data() || index_.size != items.size()) indexAll();
  auto it = index_.first.find(nameKey(name));
  if (it != index_.first.end() && !sameName(items[it->second].name, name)) {
    indexAll();  // an item was renamed in place
    it = index_.first.find(nameKey(name));
  }
  return it == index_.first.end() ? items.size() : it->second;
}

store::StoredItem* Note::find(std::string_view name) {
  const size_t at = position(name);
  return at < items.size() ? &items[at] : nullptr;
}

const store::StoredItem* Note::find(std::string_view name) const { return const_cast<Note*>(this)->find(name); }

void Note::put(store::StoredItem item) {
  store::StoredItem* existing = find(item.name);
  put(std::move(item), existing);
}

void Note::put(store::StoredItem item, store::StoredItem* existing) {
  if (existing) {
    const std::string name = existing->name;  // the stored spelling stays
    *existing = std::move(item);
    existing->name = name;
    sealed.erase(std::remove_if(sealed.begin(), sealed.end(), [&](const std::string& s) { return equalsNoCase(s, name); }),
                 sealed.end());
    return;
  }
  if (items.size() >= HT_MAX_DOCUMENT_ITEMS)
    raise(HTFAIL_INVALID_ARGUMENT, "A document may hold at most " + std::to_string(HT_MAX_DOCUMENT_ITEMS) + " items");
  // A note written item by item would otherwise move its items at the 2nd, 3rd and 5th.
  if (items.empty()) items.reserve(8);
  // The index stays current across the append instead of being rebuilt at the next look-up.
  const bool current = index_.data == items.data() && index_.size == items.size() && items.size() >= kIndexFrom;
  std::string key = current ? nameKey(item.name) : std::string();
  items.push_back(std::move(item));
  if (!current) return;
  index_.first.emplace(std::move(key), items.size() - 1);
  index_.data = items.data();
  index_.size = items.size();
}

bool Note::remove(std::string_view name) {
  const size_t before = items.size();
  items.erase(std::remove_if(items.begin(), items.end(), [&](const store::StoredItem& i) { return sameName(i.name, name); }),
              items.end());
  sealed.erase(std::remove_if(sealed.begin(), sealed.end(), [&](const std::string& s) { return equalsNoCase(s, name); }),
               sealed.end());
  return items.size() != before;
}

void Note::setText(std::string_view name, std::string_view text, uint32_t flags) {
  put({std::string(name), HTTYPE_TEXT, flags, store::codec::encodeText(text)});
}

void Note::setTextList(std::string_view name, const std::vector<std::string>& entries, uint32_t flags) {
  put({std::string(name), HTTYPE_TEXT_LIST, flags, store::codec::encodeTextList(entries)});
}

void Note::setNumber(std::string_view name, double value, uint32_t flags) {
  put({std::string(name), HTTYPE_NUMBER, flags, store::codec::encodeNumber(value)});
}

void Note::setDateTime(std::string_view name, const HTDATETIME& value, uint32_t flags) {
  put({std::string(name), HTTYPE_DATETIME, flags, store::codec::encodeDateTime(value)});
}

std::string Note::text(std::string_view name) const {
  const store::StoredItem* item = find(name);
  if (!item || isSealed(name)) return {};
  return renderText(*item, international());
}

std::vector<std::string> Note::textList(std::string_view name) const {
  const store::StoredItem* item = find(name);
  if (!item || isSealed(name)) return {};
  std::vector<std::string> out;
  store::codec::decodeTextList(convert(*item, HTTYPE_TEXT_LIST, international()), out);
  return out;
}

bool Note::isSealed(std::string_view name) const {
  return std::any_of(sealed.begin(), sealed.end(), [&](const std::string& s) { return equalsNoCase(s, name); });
}

Attachment* Note::findAttachment(std::string_view name) {
  for (Attachment& a : attachments)
    if (equalsNoCase(a.name, name)) return &a;
  return nullptr;
}

// ---- load, save, delete ---------------------------------------------------------------

namespace {

void readAttachments(store::Connection& conn, Note& note, bool withBytes) {
  const HTID id = note.header.id;
  auto st = conn.prepare(std::string("SELECT attachment_id, name, size, host, created, modified, sealed") +
                         (withBytes ? ", bytes" : "") + " FROM attachments WHERE note_id = ?1 ORDER BY attachment_id");
  st->bind(1, int64_t(id));
  while (st->step()) {
    Attachment a;
    a.id = st->int64(0);
    a.name = st->text(1);
    a.size = uint64_t(st->int64(2));
    a.host = HTINT(st->int64(3));
    a.created = st->int64(4);
    a.modified = st->int64(5);
    a.sealedBytes = st->int64(6) != 0;
    if (withBytes) a.bytes = std::make_shared<const store::Blob>(st->blob(7));
    note.attachments.push_back(std::move(a));
  }
}

}  // namespace

Note newNote(uint32_t noteClass) {
  Note n;
  n.header.noteClass = noteClass;
  n.header.sequence = 0;
  return n;
}

std::optional<Note> loadNote(db::Database& database, store::Connection& conn, HTID id, bool withBytes) {
  auto record = store::readNoteRecord(conn, id);
  if (!record) return std::nullopt;
  Note note;
  note.header = std::move(record->header);
  if (note.header.deleted) return note;
  note.items = std::move(record->items);
  if (record->hasAttachments) readAttachments(conn, note, withBytes);
  unsealItems(note);
  for (Attachment& a : note.attachments) {
    if (!a.bytes || !a.sealedBytes) continue;
    store::Blob bytes = *a.bytes;
    if (!openFileBytes(note, a.name, bytes)) continue;
    a.bytes = std::make_shared<const store::Blob>(std::move(bytes));
    a.sealedBytes = false;
  }
  return note;
}

void saveNote(db::Database& database, store::Connection& conn, Note& note, SaveMode mode) {
  for (const store::StoredItem& item : note.items)
    if (item.name.empty()) raise(HTFAIL_INVALID_ARGUMENT, "An item without a name cannot be saved");
  syncForm(note);
  // Only an encrypted note stores something other than its items as they are.
  std::vector<store::StoredItem> sealedForm;
  if (note.isEncrypted()) sealedForm = storedForm(note);
  const std::vector<store::StoredItem>& stored = note.isEncrypted() ? sealedForm : note.items;
  store::NoteHeader& h = note.header;
  h.deleted = false;
  bool inserted = false;
  if (mode == SaveMode::Edit) {
    const int64_t now = dt::pack(dt::now());
    h.modified = h.sequenceTime = now;
    if (h.id == 0) {
      h.sequence = 1;
      h.created = now;
      store::insertNote(conn, h, &stored);
      inserted = true;
    } else {
      auto existing = store::readNote(conn, h.id);
      if (!existing) raise(HTFAIL_NOTE_NOT_FOUND, "No note with ID " + std::to_string(h.id));
      h.unid = existing->unid;
      h.created = existing->created;
      h.sequence = existing->sequence + 1;
      h.changeSeq = store::nextChange(conn);
      store::updateNote(conn, h);
    }
  } else if (h.id == 0) {
    store::insertNote(conn, h, &stored);
    inserted = true;
  } else {
    if (!store::readNote(conn, h.id)) raise(HTFAIL_NOTE_NOT_FOUND, "No note with ID " + std::to_string(h.id));
    h.changeSeq = store::nextChange(conn);
    store::updateNote(conn, h);
  }
  if (!inserted) {  // insertNote has written both already
    markModified(conn, h);
    store::writeItems(conn, h.id, stored);
  }
  if (!note.attachments.empty() || !inserted) saveAttachments(conn, note);

  if (!note.isEncrypted()) {
    notifyNoteSaved(database, conn, SavedNote{h, stored});
    return;
  }
  std::vector<store::StoredItem> visible;
  visible.reserve(stored.size());
  for (const store::StoredItem& item : stored)
    if (!encryptedItem(note, item)) visible.push_back(item);
  notifyNoteSaved(database, conn, SavedNote{h, visible});
}

void deleteNote(db::Database& database, store::Connection& conn, HTID id) {
  auto header = store::readNote(conn, id);
  if (!header) raise(HTFAIL_NOTE_NOT_FOUND, "No note with ID " + std::to_string(id));
  if (header->deleted) return;
  store::makeStub(conn, id);
  notifyNoteDeleted(database, conn, *header);
}

store::Blob attachmentBytes(store::Connection& conn, const Note& note, int64_t attachmentId, bool& stillSealed) {
  auto st = conn.prepare("SELECT bytes, sealed, name FROM attachments WHERE attachment_id = ?1");
  st->bind(1, attachmentId);
  if (!st->step()) raise(HTFAIL_ATTACH_NOT_FOUND, "Attachment " + std::to_string(attachmentId) + " is no longer stored");
  store::Blob bytes = st->blob(0);
  stillSealed = st->int64(1) != 0 && !openFileBytes(note, st->text(2), bytes);
  return bytes;
}

void prepareCopy(store::Connection& from, Note& note) {
  for (Attachment& a : note.attachments) {
    if (!a.bytes) {
      bool stillSealed = false;
      a.bytes = std::make_shared<const store::Blob>(attachmentBytes(from, note, a.id, stillSealed));
      a.sealedBytes = stillSealed;
    }
    a.id = 0;
  }
  note.header.id = 0;
}

}  // namespace quire::engine::doc
