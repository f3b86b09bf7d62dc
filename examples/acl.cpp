// Reads a database's access-control list, then changes it: a new entry with a role, and a
// changed level for the default entry. The list is read again afterwards to show what the
// database stored.
#include <cstdio>
#include <memory>
#include <string>

#include <binding/Quire01.h>
#include <objects/QRAcl.h>
#include <objects/QRAclEnt.h>
#include <objects/QRDbase.h>
#include <objects/QRSessn.h>

namespace {

constexpr char kPath[] = "examples\\acl.nsf";

const char* LevelName(TQRAccessLevel level) {
  static const char* const kNames[] = {"No Access", "Depositor", "Reader", "Author", "Editor", "Designer", "Manager"};
  return level >= alNoAccess && level <= alManager ? kNames[level] : "?";
}

void PrintACL(TQuireDatabase& database) {
  auto acl = database.GetACL();
  std::printf("%d entries:\n", acl->GetEntrycount());
  for (TQuireACLEntry* entry = acl->GetFirstEntry(); entry; entry = acl->GetNextEntry(entry)) {
    std::string roles;
    for (int i = 0; i < entry->GetRoleCount(); ++i) {
      std::string role;
      entry->GetRole(i, role);
      roles += " " + role;
    }
    // The create and delete flags are stored for every entry but take effect only from
    // Author up: a Reader creates and deletes nothing, whatever its flags say.
    const bool writes = entry->GetLevel() >= alAuthor;
    std::printf("  %-16s %-10s create %-3s delete %-3s roles:%s\n", entry->GetName().c_str(),
                LevelName(entry->GetLevel()), writes && entry->GetCanCreateDocuments() ? "yes" : "no",
                writes && entry->GetCanDeleteDocuments() ? "yes" : "no", roles.empty() ? " -" : roles.c_str());
  }
}

// The changes: a role, an entry holding it, and the default entry lowered to Reader. The
// creator of a database is its Manager, so every change here is allowed.
bool ChangeACL(TQuireDatabase& database) {
  auto acl = database.GetACL();
  if (!acl->AddRole("[Approvers]")) {
    std::fprintf(stderr, "cannot add the role: %s\n", acl->GetNotesErrorString().c_str());
    return false;
  }
  TQuireACLEntry* team = acl->CreateACLEntry("Sales Team");
  if (!team) {
    std::fprintf(stderr, "cannot add the entry: %s\n", acl->GetNotesErrorString().c_str());
    return false;
  }
  team->SetLevel(alEditor);
  team->SetCanDeleteDocuments(false);
  team->EnableRole("[Approvers]");
  if (TQuireACLEntry* anyone = acl->GetEntry("-Default-")) anyone->SetLevel(alReader);
  // Save sends each changed entry to the database.
  if (!acl->Save()) {
    std::fprintf(stderr, "cannot save the ACL: %s\n", acl->GetNotesErrorString().c_str());
    return false;
  }
  return true;
}

int Run() {
  TQuireSession session;
  if (!session.Initialized) {
    std::fprintf(stderr, "the database engine is not available\n");
    return 1;
  }
  HTAPI.HTDatabaseDelete("", kPath);
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", kPath, "ACL example", "", HTDBCLASS_DATABASE);
  auto database = status == HTSUCCESS ? session.GetDatabase("", kPath) : nullptr;
  if (!database) {
    std::fprintf(stderr, "cannot create %s: %s\n", kPath, GetNotesErrorText(status).c_str());
    return 1;
  }
  std::printf("A new database lists its creator and the default entry. ");
  PrintACL(*database);
  if (!ChangeACL(*database)) return 1;
  std::printf("After the changes, ");
  PrintACL(*database);

  auto acl = database->GetACL();
  TQuireACLEntry* team = acl->GetEntry("Sales Team");
  if (!team || team->GetLevel() != alEditor || team->GetCanDeleteDocuments() || !team->IsRoleEnabled("[Approvers]")) {
    std::fprintf(stderr, "the stored entry differs from what was saved\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main() {
  Initialize();
  const int result = Run();
  Finalize();
  return result;
}
