// Folder entry points: making a folder from a view or folder, and folder membership.
// HTFolderLocateByName, HTFolderList and HTFolderDelete are the generic design calls of
// Design.cpp. Membership rules (idempotent add and remove) are in engine/view/Designs.h.
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/view/Designs.h"

using namespace quire::engine;

namespace {

template <typename F>
HTSTATUS withDb(HTDBHANDLE handle, F&& body) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return body(*h);
  });
}

// The note IDs of a membership call; a count without an array is refused.
HTSTATUS readNotes(HTUINT count, const HTID* notes, std::vector<HTID>& out) {
  if (count > 0 && !notes) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: notes");
  out.assign(notes, notes + count);
  return HTSUCCESS;
}

}  // namespace

HT_EXPORT HTSTATUS HTFolderCreateFromViewFolder(HTDBHANDLE db, HTDBHANDLE designDb, HTID viewOrFolder, HTUINT flags,
                                                const char* name, HTID* folder) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(folder);
    *folder = 0;
    std::shared_ptr<db::DbHandle> source;
    if (designDb != 0) {
      if (HTSTATUS s = db::lookup(designDb, source)) return s;
    }
    return view::createFolder(h, source ? *source : h, viewOrFolder, flags, textArg(name), *folder);
  });
}

HT_EXPORT HTSTATUS HTFolderAddEntries(HTDBHANDLE db, HTID folder, HTUINT count, const HTID* notes) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    std::vector<HTID> ids;
    if (HTSTATUS s = readNotes(count, notes, ids)) return s;
    return view::addToFolder(h, folder, ids);
  });
}

HT_EXPORT HTSTATUS HTFolderRemoveEntries(HTDBHANDLE db, HTID folder, HTUINT count, const HTID* notes) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    std::vector<HTID> ids;
    if (HTSTATUS s = readNotes(count, notes, ids)) return s;
    return view::removeFromFolder(h, folder, ids);
  });
}

HT_EXPORT HTSTATUS HTFolderRemoveAllEntries(HTDBHANDLE db, HTID folder) {
  return withDb(db, [&](db::DbHandle& h) { return view::clearFolder(h, folder); });
}

HT_EXPORT HTSTATUS HTFolderGetCount(HTDBHANDLE db, HTID folder, HTUINT* count) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(count);
    *count = 0;
    return view::folderCount(h, folder, *count);
  });
}
