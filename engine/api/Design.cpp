// Design lists and look-ups: forms, views, folders, agents.
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/Design.h"
#include "engine/store/NoteStore.h"

using namespace quire::engine;
namespace nc = quire::engine::store::note_class;

namespace {

HTSTATUS list(HTDBHANDLE handle, uint32_t noteClass, HTINT listMode, HTLISTREC* record) {
  return guard([&] {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return db::designList(*h, noteClass, listMode, *record);
  });
}

HTID locate(HTDBHANDLE handle, uint32_t noteClass, const char* name) {
  return guardValue<HTID>(0, [&]() -> HTID {
    std::shared_ptr<db::DbHandle> h;
    if (db::lookup(handle, h)) return 0;
    return db::designLocate(*h, noteClass, textArg(name));
  });
}

}  // namespace

HT_EXPORT HTSTATUS HTFormList(HTDBHANDLE db, HTINT listMode, HTLISTREC* record) {
  return list(db, nc::kForm, listMode, record);
}
HT_EXPORT HTSTATUS HTViewList(HTDBHANDLE db, HTINT listMode, HTLISTREC* record) {
  return list(db, nc::kView, listMode, record);
}
HT_EXPORT HTSTATUS HTFolderList(HTDBHANDLE db, HTINT listMode, HTLISTREC* record) {
  return list(db, nc::kFolder, listMode, record);
}
HT_EXPORT HTSTATUS HTAgentList(HTDBHANDLE db, HTINT listMode, HTLISTREC* record) {
  return list(db, nc::kAgent, listMode, record);
}

HT_EXPORT HTID HTFormLocateByName(HTDBHANDLE db, const char* name) { return locate(db, nc::kForm, name); }
HT_EXPORT HTID HTFolderLocateByName(HTDBHANDLE db, const char* name) { return locate(db, nc::kFolder, name); }
HT_EXPORT HTID HTAgentLocateByName(HTDBHANDLE db, const char* name) { return locate(db, nc::kAgent, name); }

HT_EXPORT HTSTATUS HTFolderDelete(HTDBHANDLE handle, HTID folder) {
  return guard([&] {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return db::designDelete(*h, nc::kFolder, folder);
  });
}
