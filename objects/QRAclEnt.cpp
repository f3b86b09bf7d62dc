#include "objects/QRAclEnt.h"

#include <cstring>

#include "binding/Quire01.h"
#include "objects/QRAclRoles.h"
#include "objects/QRBuffer.h"

TQuireACLEntry::TQuireACLEntry(const HTACLENTRY& record, HTDBHANDLE databaseHandle, TQuireACL* owner, bool isNew)
    : DbHandle(databaseHandle),
      Owner(owner),
      record_(record),
      stored_(record),
      key_(qrbuffer::Text(record.name)),
      isNew_(isNew) {}

std::string TQuireACLEntry::GetName() const { return qrbuffer::Text(record_.name); }

void TQuireACLEntry::SetName(const std::string& value) {
  qrbuffer::Fill(record_.name, value);
  nameChanged_ = true;
}

TQRAccessLevel TQuireACLEntry::GetLevel() const { return static_cast<TQRAccessLevel>(record_.level); }

void TQuireACLEntry::SetLevel(TQRAccessLevel value) {
  record_.level = value;
  levelChanged_ = true;
}

bool TQuireACLEntry::GetIsPublicReader() const { return record_.level >= alReader; }

void TQuireACLEntry::SetIsPublicReader(bool value) {
  if (value && record_.level < alReader) {
    SetLevel(alReader);
  } else if (!value && record_.level > alDepositor) {
    SetLevel(alDepositor);
  }
}

bool TQuireACLEntry::GetIsPublicWriter() const { return record_.level >= alDepositor; }

void TQuireACLEntry::SetIsPublicWriter(bool value) {
  if (value && record_.level < alDepositor) {
    SetLevel(alDepositor);
  } else if (!value && record_.level > alNoAccess) {
    SetLevel(alNoAccess);
  }
}

void TQuireACLEntry::SetFlag(uint32_t bit, bool set) {
  if (set) {
    record_.flags |= bit;
  } else {
    record_.flags &= ~bit;
  }
  flagsChanged_ = true;
}

bool TQuireACLEntry::GetCanCreateDocuments() const { return (record_.flags & HTACLFLAG_NO_CREATE_DOCS) == 0; }

void TQuireACLEntry::SetCanCreateDocuments(bool value) { SetFlag(HTACLFLAG_NO_CREATE_DOCS, !value); }

bool TQuireACLEntry::GetCanDeleteDocuments() const { return (record_.flags & HTACLFLAG_NO_DELETE_DOCS) == 0; }

void TQuireACLEntry::SetCanDeleteDocuments(bool value) { SetFlag(HTACLFLAG_NO_DELETE_DOCS, !value); }

bool TQuireACLEntry::GetCanCreatePersonalAgent() const { return (record_.flags & HTACLFLAG_PERSONAL_AGENTS) != 0; }

void TQuireACLEntry::SetCanCreatePersonalAgent(bool value) { SetFlag(HTACLFLAG_PERSONAL_AGENTS, value); }

bool TQuireACLEntry::GetCanCreatePersonalFolder() const {
  return (record_.flags & HTACLFLAG_PERSONAL_FOLDERS) != 0;
}

void TQuireACLEntry::SetCanCreatePersonalFolder(bool value) { SetFlag(HTACLFLAG_PERSONAL_FOLDERS, value); }

int TQuireACLEntry::GetRoleCount() {
  roleNames_.Clear();
  std::string name;
  for (int byte = 0; byte < static_cast<int>(sizeof record_.roles); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((record_.roles[byte] & (1u << bit)) == 0) continue;
      if (qrroles::ReadName(DbHandle, byte * 8 + bit + 1, name, LastError)) roleNames_.Add(name);
    }
  }
  return roleNames_.Count();
}

void TQuireACLEntry::GetRole(int index, std::string& name) {
  if (index >= 0 && index < GetRoleCount()) name = roleNames_.Strings(index);
}

bool TQuireACLEntry::SetRole(const std::string& roleName, bool enable) {
  const int index = qrroles::FindByName(DbHandle, roleName, LastError);
  if (index == 0) return false;
  // Both directions answer 0 on success.
  LastError = HTAPI.HTACLSetRole(&record_, index, enable ? 1 : 0);
  if (LastError != 0) return false;
  rolesChanged_ = true;
  return true;
}

bool TQuireACLEntry::EnableRole(const std::string& roleName) { return SetRole(roleName, true); }

bool TQuireACLEntry::DisableRole(const std::string& roleName) { return SetRole(roleName, false); }

bool TQuireACLEntry::IsRoleEnabled(const std::string& roleName) {
  const int index = qrroles::FindByName(DbHandle, roleName, LastError);
  if (index == 0) return false;
  return HTAPI.HTACLGetRole(&record_, index) != 0;
}

bool TQuireACLEntry::Save() {
  uint32_t mask = 0;
  if (nameChanged_) mask |= HTACLUPDATE_NAME;
  if (levelChanged_) mask |= HTACLUPDATE_LEVEL;
  if (rolesChanged_) mask |= HTACLUPDATE_ROLES;
  if (flagsChanged_) mask |= HTACLUPDATE_FLAGS;
  nameChanged_ = levelChanged_ = rolesChanged_ = flagsChanged_ = false;
  if (mask == 0) return false;
  // An entry the database does not hold yet is added whole; a stored one is found by the
  // name it is stored under, which a rename in this copy must not hide.
  LastError = isNew_ ? HTAPI.HTACLAdd(DbHandle, &record_) : HTAPI.HTACLUpdate(DbHandle, &stored_, &record_, mask);
  if (LastError != 0) return false;
  if (isNew_) {
    stored_ = record_;
    isNew_ = false;
  } else {
    // Only the sent parts changed in the database; a part whose earlier update failed
    // keeps its stored value.
    if (mask & HTACLUPDATE_NAME) std::memcpy(stored_.name, record_.name, sizeof stored_.name);
    if (mask & HTACLUPDATE_LEVEL) stored_.level = record_.level;
    if (mask & HTACLUPDATE_ROLES) std::memcpy(stored_.roles, record_.roles, sizeof stored_.roles);
    if (mask & HTACLUPDATE_FLAGS) stored_.flags = record_.flags;
  }
  return true;
}

std::string TQuireACLEntry::GetNotesErrorString() const { return GetNotesErrorText(LastError); }
