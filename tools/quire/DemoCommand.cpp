// quire demo: makes the sample database in the local data directory (once) and shows it.
#include <algorithm>
#include <ostream>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "tools/quire/Cli.h"
#include "tools/quire/DemoSample.h"

namespace quirecli {

namespace {

constexpr char kUsage[] = "  quire demo\n";

constexpr char kSamplePath[] = "sample.nsf";
constexpr char kSampleTitle[] = "Quire Sample";

struct SampleEntry {
  const char* name;
  TQRAccessLevel level;
  std::vector<const char*> roles;
};

const char* const kSampleRoles[] = {"[Admin]", "[Editors]", "[Reviewers]"};

const SampleEntry kSampleEntries[] = {
    {"Ann Reader", alReader, {}},
    {"Bob Editor", alEditor, {"[Editors]"}},
    {"Sales Team", alAuthor, {"[Reviewers]"}},
};

// Adds each sample role the database does not have yet.
void EnsureRoles(TQuireACL& acl) {
  std::vector<std::string> present;
  const int count = acl.GetRoleCount();
  for (int index = 0; index < count; ++index) {
    std::string name;
    acl.GetRoleName(index, name);
    present.push_back(name);
  }
  for (const char* role : kSampleRoles) {
    if (std::find(present.begin(), present.end(), role) != present.end()) continue;
    if (acl.AddRole(role)) continue;
    Check(acl.LastError, "cannot add role " + std::string(role));
    throw Failure("cannot add role " + std::string(role) + ": no free role slot");
  }
}

void EnableRole(TQuireACLEntry& entry, const char* role) {
  if (entry.IsRoleEnabled(role)) return;
  if (entry.EnableRole(role)) return;
  Check(entry.LastError, "cannot enable " + std::string(role));
  throw Failure("no role " + std::string(role) + " in the sample database");
}

void Save(TQuireACLEntry& entry) {
  if (!entry.Save() && entry.LastError != 0) Check(entry.LastError, "cannot save entry '" + entry.GetName() + "'");
}

// Adds the sample entries that are missing and gives the session's user the [Admin] role.
void EnsureEntries(TQuireACL& acl, const std::string& user) {
  for (const auto& sample : kSampleEntries) {
    if (acl.GetEntry(sample.name)) continue;
    TQuireACLEntry* entry = acl.CreateACLEntry(sample.name);
    entry->SetLevel(sample.level);
    for (const char* role : sample.roles) EnableRole(*entry, role);
    Save(*entry);
  }
  if (TQuireACLEntry* self = acl.GetEntry(user)) {
    EnableRole(*self, "[Admin]");
    Save(*self);
  }
}

int RunDemo(Context& context, Arguments& arguments) {
  arguments.ExpectEnd();
  const HTSTATUS created = HTAPI.HTDatabaseCreate("", kSamplePath, kSampleTitle, "", HTDBCLASS_DATABASE);
  if (created != 0 && created != HTFAIL_DB_EXISTS) Check(created, "cannot create the sample database");
  auto database = OpenDatabase(context, "", kSamplePath);
  const std::string user = context.session.GetUserName();
  {
    auto acl = database->GetACL();
    Check(acl->LastError, "cannot read the access control list of the sample database");
    EnsureRoles(*acl);
    EnsureEntries(*acl, user);
  }
  auto& out = context.out;
  out << (created == 0 ? "Created" : "Using") << " the sample database " << kSamplePath << " as " << user << "\n\n";
  PrintDatabase(context, *database);
  out << "\nAccess control list:\n";
  auto acl = database->GetACL();
  PrintACL(context, *acl);
  out << "\n";
  EnsureSampleData(*database, out);
  ShowSampleData(*database, out);
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(demo, "demo", kUsage, RunDemo);

}  // namespace quirecli
