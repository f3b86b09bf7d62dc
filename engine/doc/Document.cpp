#include "engine/doc/Document.h"

#include "engine/core/Handles.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/doc/Values.h"
#include "engine/index/ReadAccess.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/PgStorage.h"
#include "engine/store/Transaction.h"

namespace quire::engine::doc {
namespace {

std::string describe(db::DbHandle& h, const store::NoteHeader& header) {
  std::string what = store::note_class::isDesign(header.noteClass) ? "design note " : "document ";
  return what + std::to_string(header.id) + " in " + h.apiPath();
}

HTSTATUS denied(db::DbHandle& h, const std::string& why) {
  return fail(HTFAIL_ACCESS_DENIED, "User " + db::userName() + " " + why);
}

// Whether any Authors item of `items` names the session user (or a group or role of theirs).
bool namedAuthor(db::DbHandle& h, const db::Access& access, const std::vector<store::StoredItem>& items) {
  const index::ReadAccess reader = index::ReadAccess::forHandle(h, access);
  for (const store::StoredItem& item : items) {
    if (!(item.flags & kItemAuthors)) continue;
    std::vector<std::string> names;
    if (item.type == HTTYPE_TEXT) names.emplace_back(item.value.begin(), item.value.end());
    else if (item.type == HTTYPE_TEXT_LIST) store::codec::decodeTextList(item.value, names);
    for (const std::string& n : names)
      if (!trim(n).empty() && reader.admits(n)) return true;
  }
  return false;
}

}  // namespace

Document::Document(std::shared_ptr<db::DbHandle> handle, HTDBHANDLE dbHandleValue, Note n, bool fresh)
    : note(std::move(n)), isNew(fresh), handle_(std::move(handle)), dbHandleValue_(dbHandleValue) {
  baseSequence = note.header.sequence;
}

Composite& CompositeObject::content() {
  if (item.empty()) return detached;
  if (loadedVersion == document->version) return detached;
  const store::StoredItem* stored = document->note.find(item);
  if (!stored) raise(HTFAIL_ITEM_NOT_FOUND, "The document has no rich-text item " + item + " any more");
  if (document->note.isSealed(item)) raise(HTFAIL_NO_KEY, "Item " + item + " is encrypted with a key not held here");
  Composite c;
  if (stored->type == HTTYPE_COMPOSITE) {
    if (!Composite::decode(stored->value, c))
      raise(HTFAIL_STORAGE_ERROR, "Item " + item + " holds a malformed rich-text value");
  } else {
    c = Composite::fromPlainText(renderText(*stored, international()));
  }
  flags = stored->flags;
  detached = std::move(c);
  loadedVersion = document->version;
  return detached;
}

void CompositeObject::commit() {
  dirty = true;
  if (item.empty()) return;
  document->note.put({item, HTTYPE_COMPOSITE, flags, detached.encode()});
  document->changed();
  loadedVersion = document->version;
}

HTSTATUS lookupDocument(HTDOCHANDLE handle, std::shared_ptr<Document>& out) {
  out = HandleTable::instance().get<Document>(HandleKind::Document, handle);
  if (!out) return fail(HTFAIL_INVALID_HANDLE, "Document handle " + std::to_string(handle) + " is not open");
  return HTSUCCESS;
}

HTSTATUS lookupComposite(HTCOMPHANDLE handle, std::shared_ptr<CompositeObject>& out) {
  out = HandleTable::instance().get<CompositeObject>(HandleKind::Composite, handle);
  if (!out) return fail(HTFAIL_INVALID_HANDLE, "Composite handle " + std::to_string(handle) + " is not open");
  return HTSUCCESS;
}

HTDOCHANDLE openDocument(std::shared_ptr<Document> document) {
  Document* raw = document.get();
  raw->self = HandleTable::instance().add(HandleKind::Document, std::move(document));
  return raw->self;
}

HTCOMPHANDLE openComposite(std::shared_ptr<CompositeObject> composite) {
  CompositeObject* raw = composite.get();
  raw->self = HandleTable::instance().add(HandleKind::Composite, std::move(composite));
  return raw->self;
}

HTSTATUS closeDocument(HTDOCHANDLE handle) {
  auto removed = HandleTable::instance().remove(HandleKind::Document, handle);
  if (!removed) return fail(HTFAIL_INVALID_HANDLE, "Document handle " + std::to_string(handle) + " is not open");
  Document* doc = static_cast<Document*>(removed.get());
  HandleTable::instance().removeIf<CompositeObject>(HandleKind::Composite,
                                                    [&](const CompositeObject& c) { return c.document.get() == doc; });
  return HTSUCCESS;
}

bool canRead(db::DbHandle& handle, const std::vector<store::StoredItem>& items) {
  const db::Access access = db::effectiveAccess(handle);
  if (!access.enforced) return true;
  return index::ReadAccess::forHandle(handle, access).canRead(items);
}

HTSTATUS requireRead(db::DbHandle& handle, const Note& note) {
  const db::Access access = db::effectiveAccess(handle);
  if (HTSTATUS s = db::requireAccess(handle, access, HTACLLEVEL_READER, "read documents")) return s;
  if (access.enforced && !index::ReadAccess::forHandle(handle, access).canRead(note.items))
    return denied(handle, "is not named in the Readers items of " + describe(handle, note.header));
  return HTSUCCESS;
}

HTSTATUS requireCreate(db::DbHandle& handle, uint32_t noteClass) {
  if (store::note_class::isDesign(noteClass)) return db::requireAccess(handle, HTACLLEVEL_DESIGNER, "create design notes");
  const db::Access access = db::effectiveAccess(handle);
  if (HTSTATUS s = db::requireAccess(handle, access, HTACLLEVEL_AUTHOR, "create documents")) return s;
  if (access.enforced && (access.flags & HTACLFLAG_NO_CREATE_DOCS))
    return denied(handle, "may not create documents in " + handle.apiPath());
  return HTSUCCESS;
}

bool mayChange(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored) {
  const db::Access access = db::effectiveAccess(handle);
  if (!access.enforced) return true;
  if (store::note_class::isDesign(header.noteClass)) return access.level >= HTACLLEVEL_DESIGNER;
  if (access.level >= HTACLLEVEL_EDITOR) return true;
  return access.level >= HTACLLEVEL_AUTHOR && namedAuthor(handle, access, stored);
}

HTSTATUS requireChange(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored) {
  if (mayChange(handle, header, stored)) return HTSUCCESS;
  const db::Access access = db::effectiveAccess(handle);
  return denied(handle, std::string("has ") + db::levelName(access.level) + " access and may not change " +
                            describe(handle, header) + (access.level == HTACLLEVEL_AUTHOR ? " (not one of its authors)" : ""));
}

HTSTATUS requireDelete(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored) {
  if (HTSTATUS s = requireChange(handle, header, stored)) return s;
  const db::Access access = db::effectiveAccess(handle);
  if (access.enforced && (access.flags & HTACLFLAG_NO_DELETE_DOCS) && !store::note_class::isDesign(header.noteClass))
    return denied(handle, "may not delete documents in " + handle.apiPath());
  return HTSUCCESS;
}

std::vector<store::StoredItem> itemsForChangeCheck(db::DbHandle& handle, HTID id) {
  const db::Access a = db::effectiveAccess(handle);
  if (!a.enforced || a.level >= HTACLLEVEL_EDITOR || a.level < HTACLLEVEL_AUTHOR) return {};
  return store::readItems(handle.database()->conn(), id);
}

HTSTATUS save(Document& d, store::Commit mode) {
  db::DbHandle& h = d.dbHandle();
  db::Database& database = d.database();
  auto lock = database.lock();
  store::Connection& conn = database.conn();
  Note& note = d.note;
  store::Transaction tx(conn, mode);
  if (d.isNew) {
    if (HTSTATUS s = requireCreate(h, note.header.noteClass)) return s;
  } else {
    auto stored = store::readNote(conn, note.header.id);
    if (!stored || stored->deleted)
      return fail(HTFAIL_NOTE_DELETED, "Document " + std::to_string(note.header.id) + " was deleted since it was opened");
    if (stored->sequence != d.baseSequence)
      return fail(HTFAIL_CONFLICT, "Document " + std::to_string(note.header.id) + " in " + h.apiPath() +
                                       " was changed by someone else since it was opened");
    if (HTSTATUS s = requireChange(h, *stored, itemsForChangeCheck(h, stored->id))) return s;
  }
  // A new document whose save failed is still new: it keeps no note ID (nor change number)
  // of a row that was rolled back, or its next save would look for that row and never find
  // it. One committed without confirmation may well be stored, so it keeps its ID and the
  // next save updates the note rather than making a second one.
  const std::optional<store::NoteHeader> unsaved = d.isNew ? std::optional(note.header) : std::nullopt;
  try {
    saveNote(database, conn, note);
    tx.commit();
  } catch (const store::UnconfirmedCommit&) {
    throw;
  } catch (...) {
    if (unsaved) note.header = *unsaved;
    throw;
  }
  d.isNew = false;
  d.dirty = false;
  d.baseSequence = note.header.sequence;
  return HTSUCCESS;
}

}  // namespace quire::engine::doc
