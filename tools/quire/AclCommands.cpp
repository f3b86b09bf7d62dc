// quire acl: show and change a database's access-control list and roles.
#include <algorithm>
#include <functional>
#include <iomanip>
#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "objects/QRBuffer.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kUsage[] =
    "  quire acl show PATH [--json]\n"
    "      flags are shown as they take effect for the entry's level\n"
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

// The rights an entry has, as the engine grants them: a flag counts only at the levels where
// it takes effect (a Reader never creates documents, whatever its create flag says; a
// Designer keeps personal agents and folders without the flags).
std::vector<std::string> Rights(const TQuireACLEntry& entry) {
  const int32_t level = entry.GetLevel();
  std::vector<std::string> rights;
  if (level >= alAuthor && entry.GetCanCreateDocuments()) rights.push_back("create-documents");
  if (level >= alAuthor && entry.GetCanDeleteDocuments()) rights.push_back("delete-documents");
  if (level >= alDesigner || (level >= alReader && entry.GetCanCreatePersonalAgent())) {
    rights.push_back("personal-agents");
  }
  if (level >= alDesigner || (level >= alReader && entry.GetCanCreatePersonalFolder())) {
    rights.push_back("personal-folders");
  }
  return rights;
}

std::string Permissions(const TQuireACLEntry& entry) {
  std::string text;
  for (const std::string& right : Rights(entry)) text += (text.empty() ? "" : " ") + right;
  return text.empty() ? "-" : text;
}

std::vector<std::string> EntryRoleList(TQuireACLEntry& entry) {
  std::vector<std::string> roles;
  const int count = entry.GetRoleCount();
  for (int index = 0; index < count; ++index) {
    std::string name;
    entry.GetRole(index, name);
    roles.push_back(name);
  }
  return roles;
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

nlohmann::ordered_json AclJson(TQuireACL& acl) {
  using Json = nlohmann::ordered_json;
  const bool uniform = acl.GetUniformAccess();
  Json result{{"uniformAccess", acl.LastError == 0 ? Json(uniform) : Json()}, {"entries", Json::array()}};
  for (auto* entry = acl.GetFirstEntry(); entry; entry = acl.GetNextEntry(entry)) {
    result["entries"].push_back(Json{{"name", entry->GetName()},
                                     {"level", LevelName(entry->GetLevel())},
                                     {"rights", Rights(*entry)},
                                     {"roles", EntryRoleList(*entry)}});
  }
  Json roles = Json::array();
  for (int index = 0; index < acl.GetRoleCount(); ++index) {
    std::string name;
    acl.GetRoleName(index, name);
    roles.push_back(name);
  }
  result["roles"] = roles;
  return result;
}

int Show(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  OpenACL open = Open(context, server, path);
  if (json) {
    context.out << AclJson(*open.acl).dump(2) << "\n";
  } else {
    PrintACL(context, *open.acl);
  }
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

QUIRE_COMMAND_GROUP(acl, "acl", "show and change a database's access control list and roles", kUsage, Run);

}  // namespace quirecli
