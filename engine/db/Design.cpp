#include "engine/db/Design.h"

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {
namespace {

HTLISTREC toRecord(const store::DesignEntry& e) {
  HTLISTREC r{};
  r.id = e.id;
  r.noteClass = e.noteClass;
  r.flags = e.flags;
  copyText(r.name, sizeof r.name, e.name);
  // The first alias is the one callers show beside the name.
  std::string_view alias = e.alias;
  copyText(r.secondName, sizeof r.secondName, trim(alias.substr(0, alias.find('|'))));
  return r;
}

}  // namespace

HTSTATUS designList(DbHandle& h, uint32_t noteClass, HTINT listMode, HTLISTREC& out) {
  if (HTSTATUS s = requireAccess(h, HTACLLEVEL_READER, "read the design")) return s;
  auto load = [&] {
    Database& db = *h.database();
    auto lock = db.lock();
    std::vector<HTLISTREC> records;
    for (const auto& e : store::listDesign(db.conn(), noteClass, userName())) records.push_back(toRecord(e));
    return records;
  };
  return h.designCursors[noteClass].step(listMode, load, out);
}

HTID designLocate(DbHandle& h, uint32_t noteClass, std::string_view name) {
  if (trim(name).empty()) return 0;
  if (requireAccess(h, HTACLLEVEL_READER, "read the design")) return 0;
  Database& db = *h.database();
  auto lock = db.lock();
  auto e = store::findDesign(db.conn(), noteClass, name, userName());
  return e ? e->id : 0;
}

HTSTATUS designDelete(DbHandle& h, uint32_t noteClass, HTID id) {
  Database& db = *h.database();
  auto lock = db.lock();
  auto note = store::readNote(db.conn(), id);
  if (!note || note->deleted || note->noteClass != noteClass)
    return fail(HTFAIL_NOTE_NOT_FOUND, "No design element with ID " + std::to_string(id));
  const bool ownPrivate = (note->designFlags & store::kDesignFlagPrivate) && equalsNoCase(note->owner, userName());
  if (!ownPrivate) {
    if (HTSTATUS s = requireAccess(h, HTACLLEVEL_DESIGNER, "delete " + note->designName)) return s;
  }
  store::Transaction tx(db.conn());
  store::makeStub(db.conn(), id);
  tx.commit();
  return HTSUCCESS;
}

}  // namespace quire::engine::db
