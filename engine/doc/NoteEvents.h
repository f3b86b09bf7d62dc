// Note-change observers: how indexes stay current in the same transaction as the change.
//
// Whoever writes a note (document save, delete, replication, mail delivery, agents) calls
// `notifyNoteSaved` / `notifyNoteDeleted` after the rows are written and BEFORE committing,
// on the locked connection, inside the writing transaction. Observers (full-text index,
// view indexes) update their own tables on that connection; if one throws, the whole
// transaction rolls back, so a document is never saved without its index entries.
//
// Observers register once, typically from a static initialiser in their own .cpp:
//   static const bool registered = doc::registerNoteObserver({"fulltext", &onSaved, &onDeleted});
// The registry is a function-local static, so registration order across files is safe.
// Callbacks run on the writer's thread with the database lock held; they must not call the
// C API (which would take handles' locks) and must not open another transaction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/store/NoteStore.h"
#include "engine/store/Storage.h"

namespace quire::engine::db {
class Database;
}

namespace quire::engine::doc {

// A note as it stands after the change: header and items as stored.
struct SavedNote {
  const store::NoteHeader& header;
  const std::vector<store::StoredItem>& items;
};

struct NoteObserver {
  std::string name;
  // A note was inserted or updated (documents and design notes alike).
  void (*saved)(db::Database& database, store::Connection& conn, const SavedNote& note) = nullptr;
  // A note became a deletion stub (or was purged); `header` is its header before deletion.
  void (*deleted)(db::Database& database, store::Connection& conn, const store::NoteHeader& header) = nullptr;
};

bool registerNoteObserver(const NoteObserver& observer);

void notifyNoteSaved(db::Database& database, store::Connection& conn, const SavedNote& note);
void notifyNoteDeleted(db::Database& database, store::Connection& conn, const store::NoteHeader& header);

}  // namespace quire::engine::doc
