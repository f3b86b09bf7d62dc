// Documents: create, open, save, close, delete, locate, properties, encryption, signing.
//
// HTDocumentOpen opens documents and design notes alike (a form is opened by its form ID);
// its flags are accepted and have no effect. HTDocumentSave returns 0 or a failure; it never
// answers the "saved with a warning" code. HTDocumentClose discards unsaved changes whatever
// its flags. HTDocumentGetNotesHandle answers the document handle itself: it is valid exactly
// as long as the document is open, and HTQuireSignNote (called by libnnotes' NSFNoteSign)
// takes it.
//
// Properties (HTDocumentGetProperty; value layouts):
//   STRICT_BIND, IS_DIRTY, IS_ENCRYPTED, IS_READ_ONLY, IS_RESPONSE, IS_FORM_EMBEDDED,
//   IS_ABSTRACTED    32-bit Booleans (STRICT_BIND is settable; only the first byte is read)
//   DOCID, CLASS, ATTACH_COUNT, DATABASE, TITLE_LENGTH   32-bit values
//   UNID             16 bytes; PARENT_UNID 16 bytes (HTFAIL_NOTE_NOT_FOUND when the document
//                    is no response; settable: a zero UNID makes it a main document again)
//   OID              28 bytes: UNID, sequence time (HTDATETIME), sequence number (uint32)
//   CREATED, LAST_MODIFIED, LAST_ACCESSED   HTDATETIME
//   FORM             text, HT_TITLE_CAPACITY bytes (settable: sets the Form item)
//   TITLE_TEXT       text, HT_TITLE_CAPACITY bytes: the Subject item, else Title, else $TITLE
#include <cstring>

#include "engine/api/EntryPoints.h"
#include "engine/core/DateTime.h"
#include "engine/core/Guard.h"
#include "engine/core/Handles.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Session.h"
#include "engine/doc/Crypto.h"
#include "engine/doc/Document.h"
#include "engine/doc/Signature.h"
#include "engine/store/Items.h"
#include "engine/store/Transaction.h"

using namespace quire::engine;
using doc::Document;
namespace nc = quire::engine::store::note_class;

HT_EXPORT HTSTATUS HTQuireSignNote(HTUINT notesHandle);

namespace {

void writeU32(void* value, uint32_t v) { std::memcpy(value, &v, sizeof v); }

template <typename T>
void writeValue(void* value, const T& v) {
  std::memcpy(value, &v, sizeof v);
}

bool isZero(const UNID& u) { return !(u.words[0] | u.words[1] | u.words[2] | u.words[3]); }

std::string title(const doc::Note& note) {
  for (const char* name : {"Subject", "Title", "$TITLE"}) {
    std::string t = note.text(name);
    if (!t.empty()) return t.substr(0, utf8Boundary(t, HT_TITLE_CAPACITY - 1));
  }
  return {};
}

HTSTATUS openDb(HTDBHANDLE handle, std::shared_ptr<db::DbHandle>& h) { return db::lookup(handle, h); }

// The stored items of a note, read only when the access rules need them.
std::vector<store::StoredItem> storedItems(db::DbHandle& h, HTID id) {
  auto lock = h.database()->lock();
  return doc::itemsForChangeCheck(h, id);
}

HTSTATUS getProperty(Document& d, HTINT property, void* value) {
  const store::NoteHeader& h = d.note.header;
  switch (property) {
    case HTDOCUMENT_STRICT_BIND: writeU32(value, d.strictBind); break;
    case HTDOCUMENT_FORM: copyText(static_cast<char*>(value), HT_TITLE_CAPACITY, d.note.text(doc::kFormItem)); break;
    case HTDOCUMENT_IS_DIRTY: writeU32(value, d.dirty); break;
    case HTDOCUMENT_DOCID: writeU32(value, h.id); break;
    case HTDOCUMENT_UNID: writeValue(value, h.unid); break;
    case HTDOCUMENT_OID: {
      uint8_t oid[28];
      const HTDATETIME seqTime = dt::unpack(h.sequenceTime);
      const uint32_t seq = uint32_t(h.sequence);
      std::memcpy(oid, &h.unid, 16);
      std::memcpy(oid + 16, &seqTime, 8);
      std::memcpy(oid + 24, &seq, 4);
      std::memcpy(value, oid, sizeof oid);
      break;
    }
    case HTDOCUMENT_DATABASE: writeU32(value, d.dbHandleValue()); break;
    case HTDOCUMENT_ATTACH_COUNT: writeU32(value, uint32_t(d.note.attachments.size())); break;
    case HTDOCUMENT_CREATED: writeValue(value, dt::unpack(h.created ? h.created : dt::pack(dt::now()))); break;
    case HTDOCUMENT_LAST_MODIFIED: writeValue(value, dt::unpack(h.modified ? h.modified : dt::pack(dt::now()))); break;
    case HTDOCUMENT_LAST_ACCESSED:
      writeValue(value, dt::unpack(h.accessed ? h.accessed : h.modified ? h.modified : dt::pack(dt::now())));
      break;
    case HTDOCUMENT_CLASS: writeU32(value, h.noteClass); break;
    case HTDOCUMENT_TITLE_LENGTH: writeU32(value, uint32_t(title(d.note).size())); break;
    case HTDOCUMENT_TITLE_TEXT: copyText(static_cast<char*>(value), HT_TITLE_CAPACITY, title(d.note)); break;
    case HTDOCUMENT_IS_FORM_EMBEDDED: writeU32(value, d.note.find("$TITLE") != nullptr && !nc::isDesign(h.noteClass)); break;
    case HTDOCUMENT_IS_ENCRYPTED: writeU32(value, d.note.isEncrypted()); break;
    case HTDOCUMENT_IS_READ_ONLY:
      writeU32(value, !d.isNew && !doc::mayChange(d.dbHandle(), h, storedItems(d.dbHandle(), h.id)));
      break;
    case HTDOCUMENT_IS_ABSTRACTED: writeU32(value, 0); break;
    case HTDOCUMENT_IS_RESPONSE: writeU32(value, d.note.isResponse()); break;
    case HTDOCUMENT_PARENT_UNID:
      if (!h.parent) return fail(HTFAIL_NOTE_NOT_FOUND, "The document is not a response: it has no parent");
      writeValue(value, *h.parent);
      break;
    default: return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown document property " + std::to_string(property));
  }
  return HTSUCCESS;
}

HTSTATUS setProperty(Document& d, HTINT property, const void* value) {
  switch (property) {
    case HTDOCUMENT_STRICT_BIND:
      d.strictBind = *static_cast<const uint8_t*>(value) != 0;
      return HTSUCCESS;
    case HTDOCUMENT_PARENT_UNID: {
      UNID u;
      std::memcpy(&u, value, sizeof u);
      if (isZero(u)) d.note.header.parent.reset();
      else if (std::memcmp(&u, &d.note.header.unid, sizeof u) == 0)
        return fail(HTFAIL_INVALID_ARGUMENT, "A document cannot be a response to itself");
      else d.note.header.parent = u;
      d.changed();
      return HTSUCCESS;
    }
    case HTDOCUMENT_UNID: {
      // An engine addition: a new document may take the UNID it had elsewhere, so an export
      // imported again keeps its identities and the responses their parents.
      if (!d.isNew) return fail(HTFAIL_UNKNOWN_PROPERTY, "The UNID of a saved document cannot change");
      UNID u;
      std::memcpy(&u, value, sizeof u);
      if (isZero(u)) return fail(HTFAIL_INVALID_ARGUMENT, "A UNID cannot be all zero");
      auto& database = d.database();
      auto lock = database.lock();
      if (store::findByUnid(database.conn(), u))
        return fail(HTFAIL_INVALID_ARGUMENT, "A note with that UNID exists in " + d.dbHandle().apiPath());
      d.note.header.unid = u;
      d.changed();
      return HTSUCCESS;
    }
    case HTDOCUMENT_FORM: {
      std::string_view form = textArg(static_cast<const char*>(value));
      if (form.empty()) d.note.remove(doc::kFormItem);
      else d.note.setText(doc::kFormItem, form);
      d.changed();
      return HTSUCCESS;
    }
    default:
      return fail(HTFAIL_UNKNOWN_PROPERTY, "Document property " + std::to_string(property) + " is unknown or read-only");
  }
}

}  // namespace

HT_EXPORT HTSTATUS HTDocumentCreate(HTDBHANDLE handle, HTID form, HTDOCHANDLE* out) {
  return guard([&] {
    HT_REQUIRE_ARG(out);
    *out = 0;
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    if (HTSTATUS s = doc::requireCreate(*h, nc::kDocument)) return s;
    doc::Note note = doc::newNote(nc::kDocument);
    note.header.unid = store::newUnid();
    note.header.created = note.header.modified = dt::pack(dt::now());
    if (form != 0) {
      auto& database = *h->database();
      auto lock = database.lock();
      auto formNote = doc::loadNote(database, database.conn(), form);
      if (!formNote || formNote->header.deleted || formNote->header.noteClass != nc::kForm)
        return fail(HTFAIL_NOTE_NOT_FOUND, "No form with ID " + std::to_string(form) + " in " + h->apiPath());
      note.setText(doc::kFormItem, formNote->header.designName);
      for (const store::StoredItem& item : formNote->items)
        if (!item.name.empty() && item.name[0] != '$' && !equalsNoCase(item.name, doc::kFormItem)) note.items.push_back(item);
    }
    *out = doc::openDocument(std::make_shared<Document>(h, handle, std::move(note), true));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDocumentOpen(HTDBHANDLE handle, HTID id, HTUINT flags, HTDOCHANDLE* out) {
  return guard([&] {
    HT_REQUIRE_ARG(out);
    *out = 0;
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    auto& database = *h->database();
    // The snapshot's read may stay open for the next open; the flusher ends it once idle.
    db::startFlusher();
    auto lock = database.lock();
    store::ReadSnapshot snapshot(database.conn(), store::ReadSnapshot::Keep::MayKeep);
    auto note = id ? doc::loadNote(database, database.conn(), id) : std::nullopt;
    if (!note) return fail(HTFAIL_NOTE_NOT_FOUND, "No document with ID " + std::to_string(id) + " in " + h->apiPath());
    if (note->header.deleted)
      return fail(HTFAIL_NOTE_DELETED, "Document " + std::to_string(id) + " in " + h->apiPath() + " was deleted");
    if (HTSTATUS s = doc::requireRead(*h, *note)) return s;
    *out = doc::openDocument(std::make_shared<Document>(h, handle, std::move(*note), false));
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDocumentSave(HTDOCHANDLE handle, HTUINT flags) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    return doc::save(*d, db::commitMode(d->dbHandle()));
  });
}

HT_EXPORT HTSTATUS HTDocumentClose(HTDOCHANDLE handle, HTUINT flags) {
  return guard([&] { return doc::closeDocument(handle); });
}

HT_EXPORT HTSTATUS HTDocumentDelete(HTDBHANDLE handle, HTID id, HTUINT flags) {
  return guard([&] {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = openDb(handle, h)) return s;
    auto& database = *h->database();
    auto lock = database.lock();
    // Checked inside the write, so the rights are judged on the document as it is deleted.
    store::Transaction tx(database.conn(), db::commitMode(*h));
    auto header = id ? store::readNote(database.conn(), id) : std::nullopt;
    if (!header) return fail(HTFAIL_NOTE_NOT_FOUND, "No document with ID " + std::to_string(id) + " in " + h->apiPath());
    if (header->deleted) return fail(HTFAIL_NOTE_DELETED, "Document " + std::to_string(id) + " is already deleted");
    if (HTSTATUS s = doc::requireDelete(*h, *header, doc::itemsForChangeCheck(*h, id))) return s;
    doc::deleteNote(database, database.conn(), id);
    tx.commit();
    return HTSUCCESS;
  });
}

HT_EXPORT HTID HTDocumentLocateByUnid(HTDBHANDLE handle, const UNID* unid) {
  return guardValue<HTID>(0, [&]() -> HTID {
    if (!unid) {
      fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: unid");
      return 0;
    }
    std::shared_ptr<db::DbHandle> h;
    if (openDb(handle, h)) return 0;
    if (db::requireAccess(*h, HTACLLEVEL_READER, "read documents")) return 0;
    auto& database = *h->database();
    auto lock = database.lock();
    auto id = store::findByUnid(database.conn(), *unid);
    if (!id) return 0;
    auto header = store::readNote(database.conn(), *id);
    if (!header || header->deleted) return 0;
    // A document whose Readers items leave the user out does not exist for them: its note
    // ID would tell otherwise.
    const db::Access access = db::effectiveAccess(*h);
    if (access.enforced && !doc::canRead(*h, store::readItems(database.conn(), *id))) return 0;
    return *id;
  });
}

HT_EXPORT HTID HTDocumentLocateByClass(HTDBHANDLE handle, HTUINT noteClass) {
  return guardValue<HTID>(0, [&]() -> HTID {
    std::shared_ptr<db::DbHandle> h;
    if (openDb(handle, h)) return 0;
    if (db::requireAccess(*h, HTACLLEVEL_READER, "read documents")) return 0;
    auto& database = *h->database();
    auto lock = database.lock();
    auto st = database.conn().prepare(
        "SELECT note_id FROM notes WHERE note_class = ?1 AND deleted = 0 ORDER BY note_id LIMIT 1");
    st->bind(1, int64_t(noteClass));
    return st->step() ? HTID(st->int64(0)) : 0;
  });
}

HT_EXPORT HTSTATUS HTDocumentGetProperty(HTDOCHANDLE handle, HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    return getProperty(*d, property, value);
  });
}

HT_EXPORT HTSTATUS HTDocumentSetProperty(HTDOCHANDLE handle, HTINT property, const void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    return setProperty(*d, property, value);
  });
}

namespace {

// Whether a document of this database has items sealed with that key.
bool sealedWith(store::Connection& conn, const std::string& keyId) {
  auto st = conn.prepare("SELECT items FROM notes WHERE (item_flags & ?1) != 0 AND deleted = 0");
  st->bind(1, int64_t(doc::kItemEncrypted));
  while (st->step()) {
    // The record must outlive `seal`, which points into it.
    const auto record = st->blob(0);
    store::ItemRef seal;
    if (!store::findItem(record, doc::kSealItem, seal)) continue;
    if (std::string_view(reinterpret_cast<const char*>(seal.value), seal.size) == keyId) return true;
  }
  return false;
}

}  // namespace

// Marks the document encrypted: the next save seals its items flagged encrypted (0x0002)
// with the database's key, or with the key named by `key`. When no item carries the flag,
// the Body item is flagged, so an encrypted mail message hides its body.
HT_EXPORT HTSTATUS HTDocumentEncrypt(HTDOCHANDLE handle, HTUINT flags, const char* key) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    doc::Note& note = d->note;
    std::string keyId;
    if (!textArg(key).empty()) {
      if (textArg(key).size() > 100) return fail(HTFAIL_TEXT_TOO_LONG, "A key name may have at most 100 bytes");
      keyId = doc::crypto::namedKeyId(textArg(key));
    } else {
      auto& database = d->database();
      auto lock = database.lock();
      keyId = doc::crypto::databaseKeyId(database.conn());
    }
    if (const store::StoredItem* seal = note.find(doc::kSealItem); seal && !note.sealed.empty() &&
        std::string(seal->value.begin(), seal->value.end()) != keyId)
      return fail(HTFAIL_NO_KEY, "The document is sealed with a key not held here; it cannot be sealed again");
    doc::crypto::obtainKey(keyId, [&] {
      auto& database = d->database();
      auto lock = database.lock();
      return sealedWith(database.conn(), keyId);
    });
    bool any = false;
    for (const store::StoredItem& item : note.items) any = any || (item.flags & doc::kItemEncrypted);
    if (!any)
      if (store::StoredItem* body = note.find("Body")) body->flags |= doc::kItemEncrypted;
    note.setText(doc::kSealItem, keyId);
    d->changed();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDocumentGetNotesHandle(HTDOCHANDLE handle, HTUINT flags, HTUINT* notesHandle) {
  return guard([&] {
    HT_REQUIRE_ARG(notesHandle);
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    *notesHandle = d->self;
    return HTSUCCESS;
  });
}

// Signs the open document as the session user (the signature is stored by the next save).
HT_EXPORT HTSTATUS HTQuireSignNote(HTUINT notesHandle) {
  return guard([&] {
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(notesHandle, d)) return s;
    doc::signNote(d->note, db::userName());
    d->changed();
    return HTSUCCESS;
  });
}

// Copies the open document (as it stands, unsaved changes included) into `toDb` as a new
// document with its own UNID, saved at once.
HT_EXPORT HTSTATUS HTDocumentCopy(HTDOCHANDLE handle, HTDBHANDLE toDb, HTID* newNote) {
  return guard([&] {
    HT_REQUIRE_ARG(newNote);
    *newNote = 0;
    std::shared_ptr<Document> d;
    if (HTSTATUS s = doc::lookupDocument(handle, d)) return s;
    std::shared_ptr<db::DbHandle> target;
    if (HTSTATUS s = openDb(toDb, target)) return s;
    doc::Note copy = d->note;
    {
      auto& source = d->database();
      auto lock = source.lock();
      doc::prepareCopy(source.conn(), copy);
    }
    if (HTSTATUS s = doc::requireCreate(*target, copy.header.noteClass)) return s;
    copy.header.unid = store::newUnid();
    copy.header.sequence = 0;
    auto& database = *target->database();
    auto lock = database.lock();
    store::Transaction tx(database.conn());
    doc::saveNote(database, database.conn(), copy);
    tx.commit();
    *newNote = copy.header.id;
    return HTSUCCESS;
  });
}
