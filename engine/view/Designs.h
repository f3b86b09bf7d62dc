// View and folder design operations behind the C entry points (engine/api/ViewApi.cpp,
// FolderApi.cpp): creating, copying and deleting views, making folders from views, folder
// membership, and the view and column records.
//
// Names. Views and folders share one name space per database: a new shared view or folder
// may not take the name or an alias of another shared one (HTFAIL_NAME_EXISTS), letter case
// ignored. A private folder (HTFolderCreateFromViewFolder with flag 0x80000000) belongs to
// its creator: it clashes only with that user's other private folders, and the creator's
// look-ups find it before a shared folder of the same name.
//
// Access, where the ACL is enforced: changing shared design needs Designer; a private folder
// needs Reader with the "create personal folders" flag (or Designer), and only its owner
// may change it. Changing a shared folder's membership needs Author; a document may be
// added only when the user may read it.
//
// Membership results: adding a document already in the folder, or removing one that is not
// in it, is success and changes nothing (callers synchronise membership without reading it
// first). A note ID that is no live document fails the whole call with HTFAIL_NOTE_NOT_FOUND
// before anything changes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/db/Database.h"
#include "engine/view/ViewDesign.h"

namespace quire::engine::view {

// The flag of HTFolderCreateFromViewFolder that makes a private folder.
constexpr HTUINT kFolderPrivate = 0x80000000u;

HTSTATUS createView(db::DbHandle& h, const ViewDesign& design, HTID& out);
HTSTATUS deleteView(db::DbHandle& h, HTID view);
HTSTATUS copyView(db::DbHandle& from, HTID view, db::DbHandle& to, std::string_view newName, HTID& out);

// The design of a view or folder of `h` the user may see; HTFAIL_NOT_A_VIEW otherwise.
HTSTATUS findDesign(db::DbHandle& h, HTID id, std::shared_ptr<const CompiledDesign>& out);

HTSTATUS fetchView(db::DbHandle& h, HTID view, HTVIEWREC& out);
HTCOLUMNREC columnRecord(const ColumnDesign& column, size_t position);

HTSTATUS createFolder(db::DbHandle& h, db::DbHandle& designDb, HTID source, HTUINT flags, std::string_view name,
                      HTID& out);
HTSTATUS addToFolder(db::DbHandle& h, HTID folder, const std::vector<HTID>& notes);
HTSTATUS removeFromFolder(db::DbHandle& h, HTID folder, const std::vector<HTID>& notes);
HTSTATUS clearFolder(db::DbHandle& h, HTID folder);
// Members the user may read.
HTSTATUS folderCount(db::DbHandle& h, HTID folder, HTUINT& out);

}  // namespace quire::engine::view
