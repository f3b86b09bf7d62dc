#include "engine/doc/Note.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/doc/Crypto.h"
#include "engine/doc/NoteEvents.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"
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
  auto ins = conn.prepare(
      "INSERT INTO attachments(note_id, name, bytes, size, host, created, modified) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  for (Attachment& a : note.attachments) {
    if (a.id > 0) continue;
    if (!a.bytes) raise(HTFAIL_ATTACH_NOT_FOUND, "Attachment " + a.name + " has no content to store");
    ins->reset();
    ins->bind(1, int64_t(note.header.id)).bind(2, a.name).bindBlob(3, *a.bytes);
    ins->bind(4, int64_t(a.bytes->size())).bind(5, int64_t(a.host)).bind(6, a.created).bind(7, a.modified);
    ins->run();
    a.id = conn.lastInsertId();
    a.size = a.bytes->size();
  }
}

// Item names are nearly always ASCII: compare those without building folded copies.
bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    const bool ascii = std::all_of(a.begin(), a.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
                       std::all_of(b.begin(), b.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? false : equalsNoCase(a, b);
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return equalsNoCase(a, b);
    if (x != y && std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

}  // namespace

// ---- Note ----------------------------------------------------------------------------

store::StoredItem* Note::find(std::string_view name) {
  for (store::StoredItem& item : items)
    if (sameName(item.name, name)) return &item;
  return nullptr;
}

const store::StoredItem* Note::find(std::string_view name) const { return const_cast<Note*>(this)->find(name); }

void Note::put(store::StoredItem item) {
  if (store::StoredItem* existing = find(item.name)) {
    const std::string name = existing->name;  // the stored spelling stays
    *existing = std::move(item);
    existing->name = name;
    sealed.erase(std::remove_if(sealed.begin(), sealed.end(), [&](const std::string& s) { return equalsNoCase(s, name); }),
                 sealed.end());
    return;
  }
  items.push_back(std::move(item));
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

Note newNote(uint32_t noteClass) {
  Note n;
  n.header.noteClass = noteClass;
  n.header.sequence = 0;
  return n;
}

std::optional<Note> loadNote(db::Database& database, store::Connection& conn, HTID id, bool withBytes) {
  auto header = store::readNote(conn, id);
  if (!header) return std::nullopt;
  Note note;
  note.header = std::move(*header);
  if (note.header.deleted) return note;
  note.items = store::readItems(conn, id);
  auto st = conn.prepare(std::string("SELECT attachment_id, name, size, host, created, modified") +
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
    if (withBytes) a.bytes = std::make_shared<const store::Blob>(st->blob(6));
    note.attachments.push_back(std::move(a));
  }
  unsealItems(note);
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

store::Blob attachmentBytes(store::Connection& conn, int64_t attachmentId) {
  auto st = conn.prepare("SELECT bytes FROM attachments WHERE attachment_id = ?1");
  st->bind(1, attachmentId);
  if (!st->step()) raise(HTFAIL_ATTACH_NOT_FOUND, "Attachment " + std::to_string(attachmentId) + " is no longer stored");
  return st->blob(0);
}

void prepareCopy(store::Connection& from, Note& note) {
  for (Attachment& a : note.attachments) {
    if (!a.bytes) a.bytes = std::make_shared<const store::Blob>(attachmentBytes(from, a.id));
    a.id = 0;
  }
  note.header.id = 0;
}

}  // namespace quire::engine::doc
