#include "objects/QRAcl.h"

#include "binding/Quire01.h"
#include "objects/QRAclRoles.h"
#include "objects/QRBuffer.h"

TQuireACL::TQuireACL(HTDBHANDLE databaseHandle)
    : DbHandle(databaseHandle), entries_(rtl::TStringList::Owning<TQuireACLEntry>()) {
  ReadEntries();
}

void TQuireACL::ReadEntries() {
  HTACLENTRY record{};
  HTSTATUS result = HTAPI.HTACLList(DbHandle, HTLIST_FIRST, &record);
  while (result == 0) {
    auto* entry = new TQuireACLEntry(record, DbHandle, this);
    entries_.AddObject(entry->Key(), entry);
    record = HTACLENTRY{};
    result = HTAPI.HTACLList(DbHandle, HTLIST_NEXT, &record);
  }
  // The end of the list is the normal way out; anything else is why the list is short.
  if (result != HTFAIL_END_OF_LIST) LastError = result;
}

int TQuireACL::GetEntrycount() const { return entries_.Count(); }

TQuireACLEntry* TQuireACL::GetFirstEntry() const {
  return entries_.Count() > 0 ? entries_.ObjectAs<TQuireACLEntry>(0) : nullptr;
}

TQuireACLEntry* TQuireACL::GetNextEntry(const TQuireACLEntry* entry) const {
  // By identity, not by name: two entries whose names differ only in case would otherwise
  // send the walk back to the first of them for ever.
  const int index = entries_.IndexOfObject(entry);
  if (index < 0 || index + 1 >= entries_.Count()) return nullptr;
  return entries_.ObjectAs<TQuireACLEntry>(index + 1);
}

TQuireACLEntry* TQuireACL::GetEntry(const std::string& name) const {
  const int index = entries_.IndexOf(name);
  return index < 0 ? nullptr : entries_.ObjectAs<TQuireACLEntry>(index);
}

TQuireACLEntry* TQuireACL::CreateACLEntry(const std::string& name) {
  HTACLENTRY record{};
  qrbuffer::Fill(record.name, name);
  auto* entry = new TQuireACLEntry(record, DbHandle, this, true);
  entries_.AddObject(name, entry);
  return entry;
}

void TQuireACL::RemoveEntry(const std::string& name) {
  const int index = entries_.IndexOf(name);
  if (index >= 0) entries_.Delete(index);
}

bool TQuireACL::Save() {
  for (int index = 0; index < entries_.Count(); ++index) entries_.ObjectAs<TQuireACLEntry>(index)->Save();
  return true;
}

bool TQuireACL::GetUniformAccess() {
  uint32_t value = 0;
  LastError = HTAPI.HTACLGetProperty(DbHandle, HTACL_UNIFORM_ACL, &value);
  return LastError == 0 && (value & 0xFF) != 0;
}

void TQuireACL::SetUniformAccess(bool value) {
  LastError = HTAPI.HTACLSetProperty(DbHandle, HTACL_UNIFORM_ACL, value ? 1 : 0);
}

int TQuireACL::GetRoleCount() {
  roleNames_.Clear();
  std::string name;
  // Role 80 is never listed here; an entry's own role list reaches it.
  for (int index = 1; index <= HT_ROLE_COUNT - 1; ++index) {
    qrroles::ReadName(DbHandle, index, name, LastError);
    if (!name.empty()) roleNames_.Add(name);
  }
  return roleNames_.Count();
}

void TQuireACL::GetRoleName(int index, std::string& name) {
  if (index >= 0 && index < GetRoleCount()) name = roleNames_.Strings(index);
}

void TQuireACL::SetRoleName(int index, const std::string& name) {
  if (index >= 0 && index < GetRoleCount()) RenameRole(roleNames_.Strings(index), name);
}

bool TQuireACL::StoreRoleName(int index, const std::string& name) {
  const qrbuffer::In<qrroles::kNameBuffer> buffer(name);
  LastError = HTAPI.HTACLSetRoleName(DbHandle, index, buffer.get());
  return LastError == 0;
}

bool TQuireACL::AddRole(const std::string& name) {
  // The empty name marks a free slot; storing it would report a role that is not there.
  if (name.empty()) {
    LastError = HTFAIL_INVALID_ARGUMENT;
    return false;
  }
  if (!qrbuffer::Fits(name, qrroles::kNameBuffer)) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return false;
  }
  const int index = qrroles::Find(DbHandle, LastError, [](const std::string& slot) { return slot.empty(); });
  return index != 0 && StoreRoleName(index, name);
}

bool TQuireACL::DeleteRole(const std::string& name) {
  const int index = qrroles::FindByName(DbHandle, name, LastError);
  return index != 0 && StoreRoleName(index, std::string());
}

bool TQuireACL::RenameRole(const std::string& oldName, const std::string& newName) {
  if (!qrbuffer::Fits(newName, qrroles::kNameBuffer)) {
    LastError = HTFAIL_TEXT_TOO_LONG;
    return false;
  }
  const int index = qrroles::FindByName(DbHandle, oldName, LastError);
  return index != 0 && StoreRoleName(index, newName);
}

std::string TQuireACL::GetNotesErrorString() const { return GetNotesErrorText(LastError); }
