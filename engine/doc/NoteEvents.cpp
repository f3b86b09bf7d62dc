#include "engine/doc/NoteEvents.h"

namespace quire::engine::doc {
namespace {

std::vector<NoteObserver>& observers() {
  static std::vector<NoteObserver> registry;
  return registry;
}

}  // namespace

bool registerNoteObserver(const NoteObserver& observer) {
  observers().push_back(observer);
  return true;
}

void notifyNoteSaved(db::Database& database, store::Connection& conn, const SavedNote& note) {
  for (const NoteObserver& o : observers()) {
    if (o.saved != nullptr) o.saved(database, conn, note);
  }
}

void notifyNoteDeleted(db::Database& database, store::Connection& conn, const store::NoteHeader& header) {
  for (const NoteObserver& o : observers()) {
    if (o.deleted != nullptr) o.deleted(database, conn, header);
  }
}

}  // namespace quire::engine::doc
