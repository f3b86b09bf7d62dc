// Open documents and composites: the objects behind HTDOCHANDLE and HTCOMPHANDLE.
//
// A `Document` is one open note: its in-memory Note (items and attachments as the caller
// changes them), the database handle it came through (for access checks) and the list
// cursors and scratch data of the handle. Nothing reaches the database until HTDocumentSave;
// closing discards unsaved changes. Two handles on the same note are independent copies:
// saving one after the other saved fails with HTFAIL_CONFLICT instead of losing the first
// change.
//
// Attachments are attached to the open document (the file is read at attach time, so later
// changes to the file do not matter) and stored by the next save, in the save's transaction.
//
// A `CompositeObject` is an open rich-text item. It is bound to an item of a document and
// writes every change straight into that document's Note (saved with the document), or it
// is detached (HTCompositeConvertDocument) and lives on its own until closed. Closing a
// document closes its composites.
//
// Access rules (where the ACL is enforced, db/Access.h):
//   read      Reader, and named in the document's Readers/Authors items if it has Readers
//   create    Author, without HTACLFLAG_NO_CREATE_DOCS
//   change    Editor, or Author named in an Authors item of the stored document
//   delete    as change, and without HTACLFLAG_NO_DELETE_DOCS
//   design    Designer to save or delete forms, views and other design notes
// One thread at a time per handle (hitest.h convention 10).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/core/ListCursor.h"
#include "engine/db/Database.h"
#include "engine/doc/Composite.h"
#include "engine/doc/Note.h"
#include "hitest/hitest.h"

namespace quire::engine::doc {

class Document {
 public:
  Document(std::shared_ptr<db::DbHandle> handle, HTDBHANDLE dbHandleValue, Note note, bool isNew);

  db::DbHandle& dbHandle() { return *handle_; }
  HTDBHANDLE dbHandleValue() const { return dbHandleValue_; }
  db::Database& database() { return *handle_->database(); }

  Note note;
  bool isNew;
  bool dirty = false;
  bool strictBind = false;
  HTDOCHANDLE self = 0;
  int64_t baseSequence = 0;  // the stored sequence this copy started from
  uint64_t version = 0;      // bumped by every change of `note` (composites cache on it)
  ListCursor<HTITEMLISTREC> itemCursor;
  ListCursor<HTATTACHREC> attachCursor;
  store::Blob pointerData;  // HTItemGetPointer's data, valid until the next such call

  void changed() {
    dirty = true;
    ++version;
  }

 private:
  std::shared_ptr<db::DbHandle> handle_;
  HTDBHANDLE dbHandleValue_;
};

class CompositeObject {
 public:
  std::shared_ptr<Document> document;  // the document it belongs to
  std::string item;                    // "" for a detached composite
  uint32_t flags = 0;                  // the item's flags when written back
  HTCOMPHANDLE self = 0;
  bool dirty = false;
  ListCursor<uint32_t> recordCursor;

  // The current content (reloaded when the document's item changed meanwhile).
  Composite& content();
  // Writes the content back into the document's item (bound composites only).
  void commit();

  Composite detached;  // content of a detached composite, or the cache of a bound one
  uint64_t loadedVersion = ~uint64_t(0);
};

// Handle look-ups; HTFAIL_INVALID_HANDLE (recorded) for a stale or foreign handle.
HTSTATUS lookupDocument(HTDOCHANDLE handle, std::shared_ptr<Document>& out);
HTSTATUS lookupComposite(HTCOMPHANDLE handle, std::shared_ptr<CompositeObject>& out);

// Registers an open document (e.g. a mail message made by HTMailCreate) and returns its
// handle; the document's `self` is set to it.
HTDOCHANDLE openDocument(std::shared_ptr<Document> document);
// Registers a composite on `doc` and returns its handle.
HTCOMPHANDLE openComposite(std::shared_ptr<CompositeObject> composite);
// Closes a document handle and every composite opened on it.
HTSTATUS closeDocument(HTDOCHANDLE handle);

// Access checks (0 or HTFAIL_ACCESS_DENIED with a message naming user and document).
bool canRead(db::DbHandle& handle, const std::vector<store::StoredItem>& items);
HTSTATUS requireRead(db::DbHandle& handle, const Note& note);
HTSTATUS requireCreate(db::DbHandle& handle, uint32_t noteClass);
// `stored` are the items of the document as stored (an Author must be named in them).
HTSTATUS requireChange(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored);
HTSTATUS requireDelete(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored);
// Whether the session user may change the document (HTDOCUMENT_IS_READ_ONLY).
bool mayChange(db::DbHandle& handle, const store::NoteHeader& header, const std::vector<store::StoredItem>& stored);
// The stored items of note `id` as far as the change rules need them (only an Author's
// rights depend on them); the database lock must be held.
std::vector<store::StoredItem> itemsForChangeCheck(db::DbHandle& handle, HTID id);

// Saves the open document (HTDocumentSave). The stored document is checked -- still there,
// still at the sequence this copy started from, changeable by the user -- inside the write
// transaction that writes it, so the check sees every commit of every process up to the
// write: a save racing another one fails with HTFAIL_CONFLICT instead of overwriting it.
HTSTATUS save(Document& d, store::Commit mode);

}  // namespace quire::engine::doc
