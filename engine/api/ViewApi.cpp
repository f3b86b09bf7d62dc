// View entry points: view design (create, fetch, locate, copy, delete), columns, and binding
// an index to a view or folder. The work is in engine/view.
//
// HTColumnList keeps one list position per database handle and view. HTViewLocateByName
// finds a view first and, when no view answers to the name, a folder the user may see, so a
// folder can be the source of HTFolderCreateFromViewFolder through the same look-up.
// HTIndexOpenViewFolder needs the design in the index's own database (designDb 0 or a
// handle on the same file): a view indexes the documents of the database that holds it.
#include <map>
#include <mutex>

#include "engine/api/EntryPoints.h"
#include "engine/core/Engine.h"
#include "engine/core/Guard.h"
#include "engine/core/ListCursor.h"
#include "engine/core/Text.h"
#include "engine/db/Design.h"
#include "engine/index/Index.h"
#include "engine/store/NoteStore.h"
#include "engine/view/Designs.h"
#include "engine/view/ViewCursor.h"

using namespace quire::engine;
namespace nc = quire::engine::store::note_class;

namespace {

struct NumberedColumn {
  HTUINT number = 0;
  HTCOLUMNREC record{};
};

std::mutex gColumnCursorsMutex;
// Never destroyed: HTTerm may run from an exit handler after function statics are gone.
std::map<std::pair<HTDBHANDLE, HTID>, ListCursor<NumberedColumn>>& columnCursors() {
  static auto* map = new std::map<std::pair<HTDBHANDLE, HTID>, ListCursor<NumberedColumn>>;
  return *map;
}

const bool kStopHook = [] {
  onStop([] {
    std::lock_guard lock(gColumnCursorsMutex);
    columnCursors().clear();
  });
  return true;
}();

template <typename F>
HTSTATUS withDb(HTDBHANDLE handle, F&& body) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return body(*h);
  });
}

view::ColumnDesign columnFromSpec(const HTCOLUMNSPEC& spec) {
  view::ColumnDesign c;
  c.title = textArg(spec.title);
  c.itemName = textArg(spec.itemName);
  c.formula = textArg(spec.formula);
  c.sort = spec.sort;
  c.total = spec.total;
  c.flags = spec.flags;
  c.width = spec.width;
  c.justify = spec.justify;
  c.headingJustify = spec.justify;
  c.fontFace = spec.fontFace;
  c.fontStyle = spec.fontStyle;
  c.fontColor = spec.fontColor;
  c.fontSize = spec.fontSize ? spec.fontSize : 10;
  return c;
}

std::vector<NumberedColumn> columnsOf(const view::CompiledDesign& d) {
  std::vector<NumberedColumn> out;
  for (size_t i = 0; i < d.design.columns.size(); ++i)
    out.push_back({HTUINT(i + 1), view::columnRecord(d.design.columns[i], i + 1)});
  return out;
}

}  // namespace

HT_EXPORT HTSTATUS HTViewCreate(HTDBHANDLE db, const HTVIEWSPEC* spec, HTID* viewId) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(spec);
    HT_REQUIRE_ARG(viewId);
    *viewId = 0;
    if (spec->columnCount > 0 && !spec->columns)
      return fail(HTFAIL_INVALID_ARGUMENT, "The view spec counts columns but gives none");
    if (spec->columnCount > view::kMaxColumns)
      return fail(HTFAIL_INVALID_ARGUMENT, "A view has at most " + std::to_string(view::kMaxColumns) + " columns");
    view::ViewDesign design;
    design.name = textArg(spec->name);
    design.alias = textArg(spec->alias);
    design.selection = textArg(spec->selection);
    design.flags = spec->flags;
    design.backgroundColor = spec->backgroundColor;
    design.alternateColor = spec->alternateColor;
    for (HTUINT i = 0; i < spec->columnCount; ++i) design.columns.push_back(columnFromSpec(spec->columns[i]));
    return view::createView(h, design, *viewId);
  });
}

HT_EXPORT HTSTATUS HTViewFetch(HTDBHANDLE db, HTID viewId, HTVIEWREC* record) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(record);
    return view::fetchView(h, viewId, *record);
  });
}

HT_EXPORT HTID HTViewLocateByName(HTDBHANDLE db, const char* name) {
  return guardValue<HTID>(0, [&]() -> HTID {
    std::shared_ptr<db::DbHandle> h;
    if (db::lookup(db, h)) return 0;
    if (HTID id = db::designLocate(*h, nc::kView, textArg(name))) return id;
    return db::designLocate(*h, nc::kFolder, textArg(name));
  });
}

HT_EXPORT HTSTATUS HTViewDelete(HTDBHANDLE db, HTID viewId) {
  return withDb(db, [&](db::DbHandle& h) { return view::deleteView(h, viewId); });
}

HT_EXPORT HTSTATUS HTViewCopy(HTDBHANDLE fromDb, HTID viewId, HTDBHANDLE toDb, const char* newName, HTID* newView) {
  return withDb(fromDb, [&](db::DbHandle& from) -> HTSTATUS {
    HT_REQUIRE_ARG(newView);
    *newView = 0;
    std::shared_ptr<db::DbHandle> to;
    if (HTSTATUS s = db::lookup(toDb, to)) return s;
    return view::copyView(from, viewId, *to, textArg(newName), *newView);
  });
}

HT_EXPORT HTUINT HTColumnGetCount(HTDBHANDLE db, HTID viewId) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    std::shared_ptr<db::DbHandle> h;
    if (db::lookup(db, h)) return 0;
    std::shared_ptr<const view::CompiledDesign> d;
    if (view::findDesign(*h, viewId, d)) return 0;
    return HTUINT(d->design.columns.size());
  });
}

HT_EXPORT HTSTATUS HTColumnList(HTDBHANDLE db, HTID viewId, HTINT listMode, HTUINT* columnNumber,
                                HTCOLUMNREC* record) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(columnNumber);
    HT_REQUIRE_ARG(record);
    HTSTATUS loadStatus = HTSUCCESS;
    auto load = [&] {
      std::shared_ptr<const view::CompiledDesign> d;
      loadStatus = view::findDesign(h, viewId, d);
      return loadStatus ? std::vector<NumberedColumn>() : columnsOf(*d);
    };
    NumberedColumn out;
    HTSTATUS s = HTSUCCESS;
    {
      std::lock_guard lock(gColumnCursorsMutex);
      s = columnCursors()[{db, viewId}].step(listMode, load, out);
    }
    if (loadStatus) return loadStatus;
    if (s) return s;
    *columnNumber = out.number;
    *record = out.record;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTColumnFetch(HTDBHANDLE db, HTID viewId, HTUINT columnNumber, HTCOLUMNREC* record) {
  return withDb(db, [&](db::DbHandle& h) -> HTSTATUS {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<const view::CompiledDesign> d;
    if (HTSTATUS s = view::findDesign(h, viewId, d)) return s;
    if (columnNumber == 0 || columnNumber > d->design.columns.size())
      return fail(HTFAIL_INVALID_ARGUMENT, "Column " + std::to_string(columnNumber) + " is not a column of '" +
                                               d->design.name + "' (1 to " +
                                               std::to_string(d->design.columns.size()) + ")");
    *record = view::columnRecord(d->design.columns[columnNumber - 1], columnNumber);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTIndexOpenViewFolder(HTINDEXHANDLE handle, HTDBHANDLE designDb, HTID viewOrFolder, HTUINT flags) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<index::Index> idx;
    if (HTSTATUS s = index::lookup(handle, idx)) return s;
    const auto& env = idx->sharedEnv();
    if (designDb != 0) {
      std::shared_ptr<db::DbHandle> other;
      if (HTSTATUS s = db::lookup(designDb, other)) return s;
      if (other->database() != env->database)
        return fail(HTFAIL_NOT_IMPLEMENTED, "A view of another database cannot index " + env->describe());
    }
    if (env->access.enforced && env->access.level < HTACLLEVEL_READER)
      return fail(HTFAIL_ACCESS_DENIED, "User " + db::userName() + " may not read " + env->describe());
    {
      auto lock = env->database->lock();
      auto header = store::readNote(env->database->conn(), viewOrFolder);
      const bool isDesign = header && !header->deleted &&
                            (header->noteClass == nc::kView || header->noteClass == nc::kFolder);
      const bool visible = isDesign && (!(header->designFlags & store::kDesignFlagPrivate) ||
                                        equalsNoCase(header->owner, db::userName()));
      if (!visible)
        return fail(HTFAIL_NOT_A_VIEW, "Identifier " + std::to_string(viewOrFolder) + " names no view or folder of " +
                                           env->describe());
    }
    auto snapshot = view::ViewSnapshot::acquire(*env->database, viewOrFolder, env->reader);
    if (!snapshot) return fail(HTFAIL_NOT_A_VIEW, "The view " + std::to_string(viewOrFolder) + " was deleted");
    idx->setCursor(std::make_unique<view::ViewCursor>(env, std::move(snapshot)));
    return HTSUCCESS;
  });
}
