// Generic lists and look-ups of design notes by class, behind HTFormList, HTViewList,
// HTFolderList, HTAgentList and the Locate calls. The areas that create forms, views, folders
// and agents only insert notes (store/NoteStore.h) with design_name, design_alias and
// design_flags set; these calls find them. Reading design needs Reader access where the ACL
// is enforced; deleting a folder needs Designer access (or, for a private folder, being its
// owner).
#pragma once

#include "engine/db/Database.h"

namespace quire::engine::db {

HTSTATUS designList(DbHandle& h, uint32_t noteClass, HTINT listMode, HTLISTREC& out);
// 0 when there is no design note of that class and name (or alias).
HTID designLocate(DbHandle& h, uint32_t noteClass, std::string_view name);
// Turns the design note into a deletion stub; HTFAIL_NOTE_NOT_FOUND when `id` is no live
// note of that class.
HTSTATUS designDelete(DbHandle& h, uint32_t noteClass, HTID id);

}  // namespace quire::engine::db
