// quire acl: show and change a database's access-control list and roles.
#include <algorithm>
#include <functional>
#include <iomanip>
#include <ostream>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "objects/QRBuffer.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kUsage[] =
    "  quire acl show PATH\n"
    "  quire acl add PATH NAME LEVEL\n"
    "  quire acl set PATH NAME PROPERTY VALUE\n"
    "      PROPERTY: level, name, create-documents, delete-documents, personal-agents,\n"
    "                personal-folders, public-reader, public-writer\n"
    "  quire acl delete PATH NAME\n"
    "  quire acl role add PATH ROLE\n"
    "  quire acl role delete PATH ROLE\n"
    "  quire acl role rename PATH OLD NEW\n"
    "  quire acl entry-role enable|disable PATH NAME ROLE\n"
    "  quire acl uniform PATH on|off\n"
    "  (every acl command also takes --server SERVER)\n";

// One open database and its list, read for one command.
struct OpenACL {
  std::string path;
  std::unique_ptr<TQuireDatabase> database;
  std::unique_ptr<TQuireACL> acl;
};

// Called once every argument was read, so a usage error never waits for the database.
OpenACL Open(Context& context, const std::string& server, const std::string& path) {
  OpenACL result;
  result.path = path;
  result.database = OpenDatabase(context, server, result.path);
  result.acl = result.database->GetACL();
  Check(result.acl->LastError, "cannot read the access control list of '" + result.path + "'");
  return result;
}

TQuireACLEntry& FindEntry(OpenACL& open, const std::string& name) {
  TQuireACLEntry* entry = open.acl->GetEntry(name);
  if (!entry) throw Failure("no entry '" + name + "' in the access control list of '" + open.path + "'");
  return *entry;
}

// Saves an entry that was changed; an unchanged one needs no call.
void SaveEntry(TQuireACLEntry& entry, const std::string& what) {
  if (!entry.Save() && entry.LastError != 0) Check(entry.LastError, what);
}

std::string Permissions(const TQuireACLEntry& entry) {
  std::string text;
  const auto add = [&text](bool granted, const char* name) {
    if (!granted) return;
    if (!text.empty()) text += ' ';
    text += name;
  };
  add(entry.GetCanCreateDocuments(), "create-documents");
  add(entry.GetCanDeleteDocuments(), "delete-documents");
  add(entry.GetCanCreatePersonalAgent(), "personal-agents");
  add(entry.GetCanCreatePersonalFolder(), "personal-folders");
  return text.empty() ? "-" : text;
}

std::string EntryRoles(TQuireACLEntry& entry) {
  std::string text;
  const int count = entry.GetRoleCount();
  for (int index = 0; index < count; ++index) {
    std::string name;
    entry.GetRole(index, name);
    if (!text.empty()) text += ' ';
    text += name;
  }
  return text;
}

int Show(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  PrintACL(context, *open.acl);
  return kExitOk;
}

int Add(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  const TQRAccessLevel level = ParseLevel(arguments.Next("LEVEL"));
  arguments.ExpectEnd();
  if (!qrbuffer::Fits(name, sizeof(HTACLENTRY::name))) throw UsageError("entry name too long: '" + name + "'");
  OpenACL open = Open(context, server, path);
  if (open.acl->GetEntry(name)) throw Failure("entry '" + name + "' already exists in '" + open.path + "'");
  TQuireACLEntry* entry = open.acl->CreateACLEntry(name);
  entry->SetLevel(level);
  SaveEntry(*entry, "cannot add '" + name + "' to '" + open.path + "'");
  return kExitOk;
}

using EntryChange = std::function<void(TQuireACLEntry&)>;

// Reads the property and its value into a change, before anything is opened.
EntryChange ParseChange(const std::string& property, const std::string& value) {
  using Setter = void (TQuireACLEntry::*)(bool);
  const auto flag = [&value](Setter set) -> EntryChange {
    const bool on = ParseSwitch(value);
    return [set, on](TQuireACLEntry& entry) { (entry.*set)(on); };
  };
  if (property == "level") {
    const TQRAccessLevel level = ParseLevel(value);
    return [level](TQuireACLEntry& entry) { entry.SetLevel(level); };
  }
  if (property == "name") {
    if (!qrbuffer::Fits(value, sizeof(HTACLENTRY::name))) throw UsageError("entry name too long: '" + value + "'");
    return [value](TQuireACLEntry& entry) { entry.SetName(value); };
  }
  if (property == "create-documents") return flag(&TQuireACLEntry::SetCanCreateDocuments);
  if (property == "delete-documents") return flag(&TQuireACLEntry::SetCanDeleteDocuments);
  if (property == "personal-agents") return flag(&TQuireACLEntry::SetCanCreatePersonalAgent);
  if (property == "personal-folders") return flag(&TQuireACLEntry::SetCanCreatePersonalFolder);
  if (property == "public-reader") return flag(&TQuireACLEntry::SetIsPublicReader);
  if (property == "public-writer") return flag(&TQuireACLEntry::SetIsPublicWriter);
  throw UsageError("unknown entry property '" + property + "'");
}

int Set(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  const std::string property = arguments.Next("PROPERTY");
  const std::string value = arguments.Next("VALUE");
  const EntryChange change = ParseChange(property, value);
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  TQuireACLEntry& entry = FindEntry(open, name);
  change(entry);
  SaveEntry(entry, "cannot change '" + name + "' in '" + open.path + "'");
  return kExitOk;
}

int Delete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  // The list object only forgets entries; removing one from the database is the API's.
  const TQuireACLEntry& entry = FindEntry(open, name);
  Check(HTAPI.HTACLDelete(open.database->DbHandle, entry.Key().c_str()),
        "cannot delete '" + name + "' from '" + open.path + "'");
  return kExitOk;
}

int RoleAdd(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string role = arguments.Next("ROLE");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  if (!open.acl->AddRole(role)) {
    Check(open.acl->LastError, "cannot add role '" + role + "' to '" + open.path + "'");
    throw Failure("cannot add role '" + role + "' to '" + open.path + "': no free role slot");
  }
  return kExitOk;
}

int RoleDelete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string role = arguments.Next("ROLE");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  if (!open.acl->DeleteRole(role)) {
    Check(open.acl->LastError, "cannot delete role '" + role + "' from '" + open.path + "'");
    throw Failure("no role '" + role + "' in '" + open.path + "'");
  }
  return kExitOk;
}

int RoleRename(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string oldName = arguments.Next("OLD");
  const std::string newName = arguments.Next("NEW");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  if (!open.acl->RenameRole(oldName, newName)) {
    Check(open.acl->LastError, "cannot rename role '" + oldName + "' in '" + open.path + "'");
    throw Failure("no role '" + oldName + "' in '" + open.path + "'");
  }
  return kExitOk;
}

int Role(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"add", RoleAdd}, {"delete", RoleDelete}, {"rename", RoleRename}});
}

int EntryRole(Context& context, Arguments& arguments, bool enable) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  const std::string role = arguments.Next("ROLE");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  TQuireACLEntry& entry = FindEntry(open, name);
  const bool changed = enable ? entry.EnableRole(role) : entry.DisableRole(role);
  if (!changed) {
    Check(entry.LastError, "cannot change role '" + role + "' of '" + name + "'");
    throw Failure("no role '" + role + "' in '" + open.path + "'");
  }
  SaveEntry(entry, "cannot change '" + name + "' in '" + open.path + "'");
  return kExitOk;
}

int EntryRoleEnable(Context& context, Arguments& arguments) { return EntryRole(context, arguments, true); }
int EntryRoleDisable(Context& context, Arguments& arguments) { return EntryRole(context, arguments, false); }

int EntryRoleCommand(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"enable", EntryRoleEnable}, {"disable", EntryRoleDisable}});
}

int Uniform(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const bool on = ParseSwitch(arguments.Next("on|off"));
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  open.acl->SetUniformAccess(on);
  Check(open.acl->LastError, "cannot set uniform access of '" + open.path + "'");
  return kExitOk;
}

int Run(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"show", Show},
                   {"add", Add},
                   {"set", Set},
                   {"delete", Delete},
                   {"role", Role},
                   {"entry-role", EntryRoleCommand},
                   {"uniform", Uniform}});
}

}  // namespace

void PrintACL(Context& context, TQuireACL& acl) {
  auto& out = context.out;
  const bool uniform = acl.GetUniformAccess();
  out << "Uniform access: " << (acl.LastError == 0 ? (uniform ? "on" : "off") : "unknown") << "\n";
  size_t width = 4;
  for (auto* entry = acl.GetFirstEntry(); entry; entry = acl.GetNextEntry(entry)) {
    width = std::max(width, entry->GetName().size());
  }
  out << "Entries:\n";
  for (auto* entry = acl.GetFirstEntry(); entry; entry = acl.GetNextEntry(entry)) {
    out << "  " << std::left << std::setw(static_cast<int>(width)) << entry->GetName() << "  " << std::setw(9)
        << LevelName(entry->GetLevel()) << "  " << Permissions(*entry);
    const std::string roles = EntryRoles(*entry);
    if (!roles.empty()) out << "  roles: " << roles;
    out << "\n";
  }
  out << "Roles:";
  const int count = acl.GetRoleCount();
  if (count == 0) out << " (none)";
  out << "\n";
  for (int index = 0; index < count; ++index) {
    std::string name;
    acl.GetRoleName(index, name);
    out << "  " << name << "\n";
  }
}

QUIRE_COMMAND_GROUP(acl, "acl", kUsage, Run);

}  // namespace quirecli
