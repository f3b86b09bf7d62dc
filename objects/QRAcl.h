// QRAcl: TQuireACL, the access-control list of one open database.
//
// Made by TQuireDatabase::GetACL, owned by its caller, and holding the database's handle
// without owning it (destroy it before the database). The entries are read once, when the
// object is made, and owned by it: GetFirstEntry, GetNextEntry, GetEntry and CreateACLEntry
// return non-owning pointers valid until RemoveEntry or destruction. Entry changes reach the
// database only through the entries' Save (or Save here, which saves each); role changes
// (AddRole, DeleteRole, RenameRole, SetRoleName) and the uniform-access setting go to the
// database at once.
//
// Role names live in the database's role table, indices 1 to 80, at most 17 characters.
// GetRoleCount lists the names of roles 1 to 79; the by-name operations search 1 to 78, so a
// role at 79 is listed but cannot be deleted or renamed by name. A new role name longer than
// 17 characters is refused (HTFAIL_TEXT_TOO_LONG) rather than stored cut.
//
// Errors are result codes kept in LastError; nothing throws. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "hitest/hitest.h"
#include "objects/QRAclEnt.h"
#include "rtl/Export.h"
#include "rtl/StringList.h"

class QUIRE_API TQuireACL {
 public:
  // Reads every entry of the database's list. A listing the API refuses leaves the list
  // empty and the reason in LastError.
  explicit TQuireACL(HTDBHANDLE databaseHandle);
  ~TQuireACL() = default;
  TQuireACL(const TQuireACL&) = delete;
  TQuireACL& operator=(const TQuireACL&) = delete;

  HTDBHANDLE DbHandle;
  uint32_t LastError = 0;

  int GetEntrycount() const;
  TQuireACLEntry* GetFirstEntry() const;
  // The entry after `entry` in list order; nullptr after the last one and for an entry that
  // is not (or no longer) in this list. The pointer is compared, never dereferenced.
  TQuireACLEntry* GetNextEntry(const TQuireACLEntry* entry) const;
  // Looks the name up among the entries' keys, ignoring letter case.
  TQuireACLEntry* GetEntry(const std::string& name) const;
  // A new entry carrying only `name`, appended under it. It reaches the database on its first
  // Save after a property was set.
  TQuireACLEntry* CreateACLEntry(const std::string& name);
  // Drops the entry from this object (freeing it); the database's list is not changed.
  void RemoveEntry(const std::string& name);
  // Saves every entry; true whatever the entries answered (each keeps its own LastError).
  bool Save();

  bool GetUniformAccess();
  void SetUniformAccess(bool value);

  int GetRoleCount();
  // name receives the index-th listed role (0-based); left as it was when out of range.
  void GetRoleName(int index, std::string& name);
  // Renames the index-th listed role as RenameRole does; nothing when out of range.
  void SetRoleName(int index, const std::string& name);
  // Fills the lowest empty index from 1 to 78; false when none is free or the name is empty.
  bool AddRole(const std::string& name);
  // False, nothing changed, when no index from 1 to 78 has that exact name.
  bool DeleteRole(const std::string& name);
  bool RenameRole(const std::string& oldName, const std::string& newName);

  std::string GetNotesErrorString() const;

 private:
  void ReadEntries();
  bool StoreRoleName(int index, const std::string& name);

  rtl::TStringList entries_;
  rtl::TStringList roleNames_;
};
