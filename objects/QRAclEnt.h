// QRAclEnt: TQuireACLEntry, one entry of a database's access-control list.
//
// Entries are made and owned by TQuireACL (callers get non-owning pointers, valid until the
// list object removes the entry or is destroyed). An entry works on a private copy of the
// API's entry record: getters read the copy, setters change it and mark what changed, and
// Save sends the changed parts to the database in one update. The entry remembers the
// record as the database last stored it, so the update finds the stored entry even after
// SetName renamed the copy. The name the entry had when it was made (Key) stays its key in
// the list object, whatever SetName does.
//
// Flag senses: bits HTACLFLAG_NO_CREATE_DOCS and HTACLFLAG_NO_DELETE_DOCS forbid, so
// GetCanCreateDocuments / GetCanDeleteDocuments answer the inverse of their bit and the
// setters clear the bit to allow; the personal agent and folder bits allow when set.
//
// Roles are found by name among role indices 1 to 78 (exact, case-sensitive comparison);
// GetRoleCount / GetRole list the names of all roles enabled in the record, 1 to 80.
//
// Errors are result codes kept in LastError; nothing throws. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "hitest/hitest.h"
#include "rtl/Export.h"
#include "rtl/StringList.h"

class TQuireACL;

enum TQRAccessLevel : int32_t {
  alNoAccess = 0,
  alDepositor = 1,
  alReader = 2,
  alAuthor = 3,
  alEditor = 4,
  alDesigner = 5,
  alManager = 6,
};
static_assert(sizeof(TQRAccessLevel) == 4);

class QUIRE_API TQuireACLEntry {
 public:
  // `isNew` marks an entry that is not yet stored: its first Save adds it instead of
  // updating it.
  TQuireACLEntry(const HTACLENTRY& record, HTDBHANDLE databaseHandle, TQuireACL* owner, bool isNew = false);
  ~TQuireACLEntry() = default;
  TQuireACLEntry(const TQuireACLEntry&) = delete;
  TQuireACLEntry& operator=(const TQuireACLEntry&) = delete;

  HTDBHANDLE DbHandle;
  TQuireACL* Owner;  // not owned
  uint32_t LastError = 0;

  // The name the entry was made with: its key in the owning list.
  const std::string& Key() const { return key_; }
  // The record copy as it now stands.
  const HTACLENTRY& Record() const { return record_; }

  std::string GetName() const;
  // Cut to 255 bytes, the record's capacity.
  void SetName(const std::string& value);
  TQRAccessLevel GetLevel() const;
  void SetLevel(TQRAccessLevel value);
  bool GetIsPublicReader() const;  // level >= alReader
  void SetIsPublicReader(bool value);
  bool GetIsPublicWriter() const;  // level >= alDepositor
  void SetIsPublicWriter(bool value);
  bool GetCanCreateDocuments() const;
  void SetCanCreateDocuments(bool value);
  bool GetCanDeleteDocuments() const;
  void SetCanDeleteDocuments(bool value);
  bool GetCanCreatePersonalAgent() const;
  void SetCanCreatePersonalAgent(bool value);
  bool GetCanCreatePersonalFolder() const;
  void SetCanCreatePersonalFolder(bool value);

  // Rebuilds the list of enabled roles' names and returns its length.
  int GetRoleCount();
  // name receives the index-th enabled role (0-based); left as it was when out of range.
  void GetRole(int index, std::string& name);
  // False, nothing changed, when no role among 1 to 78 has that name (an empty name names
  // no role).
  bool EnableRole(const std::string& roleName);
  bool DisableRole(const std::string& roleName);
  bool IsRoleEnabled(const std::string& roleName);

  // Sends the changed parts (HTACLUPDATE_* mask); false without a call when nothing changed.
  // The change marks are cleared first, so a failed update is not retried by a second Save.
  bool Save();
  std::string GetNotesErrorString() const;

 private:
  void SetFlag(uint32_t bit, bool set);
  bool SetRole(const std::string& roleName, bool enable);

  HTACLENTRY record_;
  HTACLENTRY stored_;  // the entry as the database holds it: the key of the next update
  std::string key_;
  bool isNew_;
  bool nameChanged_ = false;
  bool flagsChanged_ = false;
  bool rolesChanged_ = false;
  bool levelChanged_ = false;
  rtl::TStringList roleNames_;
};
