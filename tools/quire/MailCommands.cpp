// quire names, mail, replicate and server: the directory database, sending and routing mail,
// replication with a named server, and configuring named servers.
#include <iomanip>
#include <ostream>

#include <strings.h>

#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/Quiredoc.h"
#include "tools/quire/Cli.h"
#include "tools/quire/ServerSecurity.h"

namespace quirecli {

namespace {

constexpr char kNamesUsage[] =
    "  quire names create [--server SERVER]\n"
    "  quire names list [--server SERVER] [--json]\n"
    "  quire names delete NAME [--server SERVER]\n"
    "      removes the person or group of that full name, short name or group name\n"
    "  quire names person add \"FULL NAME\" --mailfile PATH [--shortname NAME] [--mailserver SERVER]\n"
    "                         [--server SERVER]\n"
    "  quire names group add NAME MEMBER... [--server SERVER]\n";

constexpr char kMailUsage[] =
    "  quire mail send --to NAMES [--cc NAMES] [--bcc NAMES] --subject TEXT --body TEXT\n"
    "                  [--attach FILE]... [--priority low|normal|high] [--from-db PATH | --save-in PATH]\n"
    "                  [--server SERVER]\n"
    "      NAMES are separated by commas. The message is made in the --from-db database (default\n"
    "      names.nsf); --save-in PATH makes it in PATH and keeps a copy of the sent message there\n"
    "  quire mail route [--server SERVER]\n"
    "      recipients the directory does not know are named, and the exit code is 1\n"
    "  quire mail list PATH [--server SERVER] [--json]\n";

constexpr char kReplicateUsage[] =
    "  quire replicate SERVER [DB...] [--only pull|push]\n"
    "      without DB: every local database that has a replica on SERVER\n";

constexpr char kServerUsage[] =
    "  quire server add NAME DIRECTORY [--force]\n"
    "      a relative DIRECTORY lies below the data directory; --force replaces an entry\n"
    "  quire server remove NAME\n"
    "      forgets the server; its directory stays\n"
    QUIRE_SERVER_SECURITY_USAGE;

using Json = nlohmann::ordered_json;

constexpr const char* kDirectory = "names.nsf";
constexpr size_t kConsoleReply = 512;

// An open database handle, closed when the command ends.
class DatabaseHandle {
 public:
  DatabaseHandle(const std::string& server, const std::string& path) {
    Check(HTAPI.HTDatabaseOpen(server.c_str(), ApiPath(path).c_str(), 0, &handle_), "cannot open database '" + path + "'");
  }
  ~DatabaseHandle() {
    if (handle_) HTAPI.HTDatabaseClose(handle_, 0);
  }
  DatabaseHandle(const DatabaseHandle&) = delete;
  DatabaseHandle& operator=(const DatabaseHandle&) = delete;
  HTDBHANDLE get() const { return handle_; }

 private:
  HTDBHANDLE handle_ = 0;
};

// An open document handle, closed (unsaved changes dropped) when the command ends.
class DocumentHandle {
 public:
  DocumentHandle() = default;
  ~DocumentHandle() {
    if (handle_) HTAPI.HTDocumentClose(handle_, 0);
  }
  DocumentHandle(const DocumentHandle&) = delete;
  DocumentHandle& operator=(const DocumentHandle&) = delete;
  HTDOCHANDLE* out() { return &handle_; }
  HTDOCHANDLE get() const { return handle_; }

 private:
  HTDOCHANDLE handle_ = 0;
};

void PutText(HTDOCHANDLE doc, const char* item, const std::string& value) {
  Check(HTAPI.HTItemPut(doc, item, HTTYPE_TEXT, 0, HTTYPE_TEXT, value.c_str(), 0), std::string("cannot set ") + item);
}

void AppendEntry(HTDOCHANDLE doc, const char* item, const std::string& value, uint32_t flags = 0) {
  Check(HTAPI.HTItemAppendTextList(doc, item, value.c_str(), 0, flags), std::string("cannot add to ") + item);
}

// Saves a new directory document filled by `fill`.
template <typename F>
void AddDirectoryDocument(const std::string& server, const char* form, F&& fill) {
  DatabaseHandle names(server, kDirectory);
  DocumentHandle doc;
  Check(HTAPI.HTDocumentCreate(names.get(), 0, doc.out()), "cannot create a document in names.nsf");
  PutText(doc.get(), "Form", form);
  fill(doc.get());
  Check(HTAPI.HTDocumentSave(doc.get(), 0), "cannot save the document in names.nsf");
}

int NamesCreate(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  arguments.ExpectEnd();
  Check(HTAPI.HTDatabaseCreate(server.c_str(), kDirectory, "Directory", "", HTDBCLASS_DATABASE),
        "cannot create names.nsf");
  DatabaseHandle names(server, kDirectory);
  const auto form = [&](const char* name, std::initializer_list<const char*> fields) {
    std::vector<HTFORMITEM> items;
    for (const char* field : fields) items.push_back(HTFORMITEM{field, HTTYPE_TEXT, 0, "", 0});
    HTID id = 0;
    Check(HTAPI.HTFormCreate(names.get(), name, HTUINT(items.size()), items.data(), &id),
          std::string("cannot create the form ") + name);
  };
  form("Person", {"FullName", "ShortName", "MailFile", "MailServer"});
  form("Group", {"ListName", "Members"});
  context.out << "created names.nsf with the forms Person and Group\n";
  return kExitOk;
}

int PersonAdd(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string mailFile = arguments.TakeOption("--mailfile");
  const std::string shortName = arguments.TakeOption("--shortname");
  const std::string mailServer = arguments.TakeOption("--mailserver");
  const std::string fullName = arguments.Next("FULL NAME");
  arguments.ExpectEnd();
  if (mailFile.empty()) throw UsageError("a person needs --mailfile PATH");
  AddDirectoryDocument(server, "Person", [&](HTDOCHANDLE doc) {
    AppendEntry(doc, "FullName", fullName, 0x0040);
    if (!shortName.empty()) PutText(doc, "ShortName", shortName);
    PutText(doc, "MailFile", ApiPath(mailFile));
    if (!mailServer.empty()) PutText(doc, "MailServer", mailServer);
  });
  context.out << "added person " << fullName << " (mail file " << ApiPath(mailFile) << ")\n";
  return kExitOk;
}

int GroupAdd(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string name = arguments.Next("NAME");
  std::vector<std::string> members;
  while (!arguments.Empty()) members.push_back(arguments.Next("MEMBER"));
  if (members.empty()) throw UsageError("a group needs at least one MEMBER");
  AddDirectoryDocument(server, "Group", [&](HTDOCHANDLE doc) {
    PutText(doc, "ListName", name);
    for (const std::string& member : members) AppendEntry(doc, "Members", member, 0x0040);
  });
  context.out << "added group " << name << " with " << members.size() << " member(s)\n";
  return kExitOk;
}

// The people and groups of the directory, in the directory's order.
struct DirectoryEntry {
  std::string kind, name, detail;
  std::vector<std::string> aliases;  // other names it answers to
  std::unique_ptr<TQuireDocument> document;
};

std::vector<DirectoryEntry> DirectoryEntries(Context& context, TQuireDatabase& names) {
  std::vector<DirectoryEntry> entries;
  auto found = names.Search("Form = \"Person\" | Form = \"Group\"");
  if (!found) return entries;
  const int count = found->GetCount();
  for (int n = 1; n <= count; ++n) {
    auto document = n == 1 ? found->GetFirstDocument() : found->GetNextDocument();
    if (!document) Check(found->LastError ? found->LastError : HTFAIL_INTERNAL, "cannot read the directory");
    const auto text = [&](const char* item) {
      TQuireItem* found = document->GetItemByName(item);
      return found ? found->GetText() : std::string();
    };
    DirectoryEntry entry;
    if (text("Form") == "Group") {
      entry.kind = "group";
      entry.name = text("ListName");
      entry.detail = text("Members");
    } else {
      entry.kind = "person";
      // A FullName list reads "Ann Lee; Ann"; its first entry is the name.
      const std::string full = text("FullName");
      entry.name = full.substr(0, full.find(';'));
      entry.detail = text("MailFile");
      if (full.size() > entry.name.size()) entry.aliases.push_back(full.substr(entry.name.size() + 1));
      const std::string shortName = text("ShortName");
      if (!shortName.empty()) entry.aliases.push_back(shortName);
    }
    entry.document = std::move(document);
    entries.push_back(std::move(entry));
  }
  return entries;
}

int NamesList(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  arguments.ExpectEnd();
  auto names = OpenDatabase(context, server, kDirectory);
  Json list = Json::array();
  for (const DirectoryEntry& entry : DirectoryEntries(context, *names)) {
    if (json) {
      list.push_back(Json{{"kind", entry.kind},
                          {"name", entry.name},
                          {entry.kind == "group" ? "members" : "mailFile", entry.detail}});
    } else {
      context.out << std::left << std::setw(7) << entry.kind << " " << std::setw(24) << entry.name << " "
                  << entry.detail << "\n";
    }
  }
  if (json) context.out << list.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  return kExitOk;
}

int NamesDelete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  auto names = OpenDatabase(context, server, kDirectory);
  int deleted = 0;
  for (DirectoryEntry& entry : DirectoryEntries(context, *names)) {
    bool match = strcasecmp(entry.name.c_str(), name.c_str()) == 0;
    for (const std::string& alias : entry.aliases) match = match || strcasecmp(alias.c_str(), name.c_str()) == 0;
    if (!match) continue;
    if (!names->DeleteDocument(entry.document.get())) Check(names->LastError, "cannot delete '" + name + "'");
    context.out << "deleted " << entry.kind << " " << entry.name << "\n";
    ++deleted;
  }
  if (deleted == 0) throw Failure("no person or group '" + name + "' in names.nsf");
  return kExitOk;
}

int RunNames(Context& context, Arguments& arguments) {
  const std::string what = arguments.Peek();
  if (what == "person" || what == "group") {
    arguments.Next("person or group");
    const std::string verb = arguments.Next("add");
    if (verb != "add") throw UsageError("unknown command '" + what + " " + verb + "'");
    return what == "person" ? PersonAdd(context, arguments) : GroupAdd(context, arguments);
  }
  return Dispatch(context, arguments, {{"create", NamesCreate}, {"list", NamesList}, {"delete", NamesDelete}});
}

uint32_t ParsePriority(const std::string& value) {
  if (value.empty() || value == "normal") return HTMAILPRIORITY_NORMAL;
  if (value == "low") return HTMAILPRIORITY_LOW;
  if (value == "high") return HTMAILPRIORITY_HIGH;
  throw UsageError("unknown priority '" + value + "' (low, normal, high)");
}

// The recipients the server's directory cannot route mail to, asked of the router itself.
std::vector<std::string> UnknownRecipients(const std::string& server, std::initializer_list<std::string> lists) {
  std::vector<std::string> unknown;
  for (const std::string& list : lists) {
    std::stringstream stream(list);
    for (std::string name; std::getline(stream, name, ',');) {
      const auto first = name.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
      if (name.find('"') != std::string::npos) continue;
      char reply[kConsoleReply] = {};
      const std::string command = "resolve \"" + name + "\"";
      if (HTAPI.HTServerExecute(server.c_str(), command.c_str(), sizeof reply, reply) != 0) continue;
      const std::string answer = reply;
      if (answer.rfind("unknown ", 0) == 0 || answer.rfind("ambiguous ", 0) == 0) unknown.push_back(name);
    }
  }
  return unknown;
}

int MailSend(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string to = arguments.TakeOption("--to");
  const std::string cc = arguments.TakeOption("--cc");
  const std::string bcc = arguments.TakeOption("--bcc");
  const std::string subject = arguments.TakeOption("--subject");
  const std::string body = arguments.TakeOption("--body");
  const std::string fromDb = arguments.TakeOption("--from-db");
  const std::string saveIn = arguments.TakeOption("--save-in");
  const uint32_t priority = ParsePriority(arguments.TakeOption("--priority"));
  std::vector<std::string> attachments;
  while (arguments.HasOption("--attach")) attachments.push_back(arguments.TakeOption("--attach"));
  arguments.ExpectEnd();
  if (to.empty() && cc.empty() && bcc.empty()) throw UsageError("a message needs --to, --cc or --bcc");
  if (!fromDb.empty() && !saveIn.empty()) throw UsageError("give --from-db or --save-in, not both");
  const bool save = !saveIn.empty();

  DatabaseHandle database(server, save ? saveIn : fromDb.empty() ? kDirectory : fromDb);
  HTMAILREC record{};
  record.sendTo = to.c_str();
  record.copyTo = cc.c_str();
  record.blindCopyTo = bcc.c_str();
  record.subject = subject.c_str();
  record.body = body.c_str();
  record.priority = priority;
  DocumentHandle doc;
  Check(HTAPI.HTMailCreate(database.get(), 0, &record, 0, doc.out()), "cannot create the message");
  for (const std::string& file : attachments)
    Check(HTAPI.HTAttachmentAttach(doc.get(), file.c_str(), nullptr, 0, 0), "cannot attach '" + file + "'");
  const std::vector<std::string> unknown = UnknownRecipients(server, {to, cc, bcc});
  Check(HTAPI.HTMailSend(doc.get(), save ? HTMAILSEND_SAVE : 0), "cannot send the message");
  context.out << "sent \"" << subject << "\"\n";
  if (unknown.empty()) return kExitOk;
  std::string names;
  for (const std::string& name : unknown) names += (names.empty() ? "" : ", ") + name;
  std::cerr << "quire: could not deliver to " << names << " (not in the directory; a delivery failure report goes to the sender)\n";
  return kExitFailure;
}

int MailRoute(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  arguments.ExpectEnd();
  char reply[kConsoleReply] = {};
  const uint32_t status = HTAPI.HTServerExecute(server.c_str(), "route", sizeof reply, reply);
  if (reply[0]) context.out << reply << "\n";
  Check(status, "routing stopped");
  return kExitOk;
}

std::string ItemText(TQuireDocument& document, const char* name) {
  TQuireItem* item = document.GetItemByName(name);
  return item ? item->GetText() : std::string();
}

int MailList(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto found = database->Search("Form = \"Memo\" | Form = \"NonDelivery Report\"");
  if (!found) Check(database->LastError, "cannot search '" + path + "'");
  const int count = found->GetCount();
  Json messages = Json::array();
  for (int i = 1; i <= count; ++i) {
    auto document = found->GetNthDocument(i);
    if (!document) Check(found->LastError, "cannot open a document of '" + path + "'");
    const bool report = ItemText(*document, "Form") == "NonDelivery Report";
    std::string date = ItemText(*document, "DeliveredDate");
    if (date.empty()) date = ItemText(*document, "PostedDate");
    if (json) {
      messages.push_back(Json{{"unid", document->GetUniversalID()},
                              {"date", date},
                              {"from", ItemText(*document, "From")},
                              {"subject", ItemText(*document, "Subject")},
                              {"failureReport", report}});
      continue;
    }
    context.out << std::left << std::setw(22) << date << " " << std::setw(24) << ItemText(*document, "From") << " "
                << (report ? "[failure] " : "") << ItemText(*document, "Subject") << "\n";
  }
  if (json) {
    context.out << messages.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return kExitOk;
  }
  context.out << count << " message(s)\n";
  return kExitOk;
}

int RunMail(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"send", MailSend}, {"route", MailRoute}, {"list", MailList}});
}

int RunReplicate(Context& context, Arguments& arguments) {
  const std::string only = arguments.TakeOption("--only");
  uint32_t flags = 0;
  if (only == "pull") flags = 0x1;
  else if (only == "push") flags = 0x2;
  else if (!only.empty()) throw UsageError("--only takes pull or push, not '" + only + "'");
  const std::string server = arguments.Next("SERVER");
  std::string databases;
  while (!arguments.Empty()) {
    const std::string path = ApiPath(arguments.Next("DB"));
    if (path.find(',') != std::string::npos) throw UsageError("a database path may not hold a comma: '" + path + "'");
    databases += (databases.empty() ? "" : ",") + path;
  }
  if (databases.empty()) flags |= 0x4;  // every database with a replica there
  HTREPLSTATS stats{};
  ProgressLine progress;
  const bool ok = context.session.ServerReplicateEx(server, 0, flags, databases, stats);
  context.out << "databases " << stats.databases << ", pulled " << stats.pulledAdded << " added / "
              << stats.pulledUpdated << " updated / " << stats.pulledDeleted << " deleted, pushed "
              << stats.pushedAdded << " added / " << stats.pushedUpdated << " updated / " << stats.pushedDeleted
              << " deleted, conflicts " << stats.conflicts << ", errors " << stats.errors << "\n";
  if (!ok) Check(context.session.LastError ? context.session.LastError : HTFAIL_REPL_FAILED, "replication with " + server + " failed");
  return kExitOk;
}

bool ServerConfigured(const std::string& name) {
  char server[HT_SERVER_NAME_CAPACITY + 1] = {};
  for (HTINT mode = HTLIST_FIRST; HTAPI.HTServerList(mode, server) == 0; mode = HTLIST_NEXT) {
    if (strcasecmp(server, name.c_str()) == 0) return true;
  }
  return false;
}

std::string Quoted(const std::string& text) {
  if (text.find('"') != std::string::npos) throw UsageError("names and directories may not hold '\"'");
  return "\"" + text + "\"";
}

int ServerAdd(Context& context, Arguments& arguments) {
  const bool force = arguments.TakeFlag("--force");
  const std::string name = arguments.Next("NAME");
  const std::string directory = arguments.Next("DIRECTORY");
  arguments.ExpectEnd();
  const std::string command = "add server " + Quoted(name) + " " + Quoted(directory);
  if (!force && ServerConfigured(name)) throw Failure("server '" + name + "' is configured already; give --force to replace it");
  char reply[kConsoleReply] = {};
  Check(HTAPI.HTServerExecute("", command.c_str(), sizeof reply, reply), "cannot add server '" + name + "'");
  context.out << reply << "\n";
  return kExitOk;
}

int ServerRemove(Context& context, Arguments& arguments) {
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  const std::string command = "remove server " + Quoted(name);
  char reply[kConsoleReply] = {};
  Check(HTAPI.HTServerExecute("", command.c_str(), sizeof reply, reply), "cannot remove server '" + name + "'");
  context.out << reply << "\n";
  return kExitOk;
}

int RunServer(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"add", ServerAdd}, {"remove", ServerRemove}, {"setup", ServerSetup}, {"status", ServerStatus}});
}

}  // namespace

QUIRE_COMMAND_GROUP(names, "names", "the directory: people and groups in names.nsf", kNamesUsage, RunNames);
QUIRE_COMMAND_GROUP(mail, "mail", "send mail, route it and list a mail file", kMailUsage, RunMail);
QUIRE_COMMAND_GROUP(replicate, "replicate", "replicate databases with a named server", kReplicateUsage, RunReplicate);
QUIRE_COMMAND_GROUP(server, "server", "add and remove named servers; set up security on PostgreSQL", kServerUsage, RunServer);

}  // namespace quirecli
