// quire names, mail, replicate and server: the directory database, sending and routing mail,
// replication with a named server, and configuring named servers.
#include <iomanip>
#include <ostream>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/Quiredoc.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kNamesUsage[] =
    "  quire names create [--server SERVER]\n"
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
    "  quire mail list PATH [--server SERVER]\n";

constexpr char kReplicateUsage[] =
    "  quire replicate SERVER [DB...] [--only pull|push]\n"
    "      without DB: every local database that has a replica on SERVER\n";

constexpr char kServerUsage[] = "  quire server add NAME DIRECTORY\n";

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

int RunNames(Context& context, Arguments& arguments) {
  const std::string what = arguments.Peek();
  if (what == "person" || what == "group") {
    arguments.Next("person or group");
    const std::string verb = arguments.Next("add");
    if (verb != "add") throw UsageError("unknown command '" + what + " " + verb + "'");
    return what == "person" ? PersonAdd(context, arguments) : GroupAdd(context, arguments);
  }
  return Dispatch(context, arguments, {{"create", NamesCreate}});
}

uint32_t ParsePriority(const std::string& value) {
  if (value.empty() || value == "normal") return HTMAILPRIORITY_NORMAL;
  if (value == "low") return HTMAILPRIORITY_LOW;
  if (value == "high") return HTMAILPRIORITY_HIGH;
  throw UsageError("unknown priority '" + value + "' (low, normal, high)");
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
  Check(HTAPI.HTMailSend(doc.get(), save ? HTMAILSEND_SAVE : 0), "cannot send the message");
  context.out << "sent \"" << subject << "\"\n";
  return kExitOk;
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
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto found = database->Search("Form = \"Memo\" | Form = \"NonDelivery Report\"");
  if (!found) Check(database->LastError, "cannot search '" + path + "'");
  const int count = found->GetCount();
  for (int i = 1; i <= count; ++i) {
    auto document = found->GetNthDocument(i);
    if (!document) Check(found->LastError, "cannot open a document of '" + path + "'");
    const bool report = ItemText(*document, "Form") == "NonDelivery Report";
    std::string date = ItemText(*document, "DeliveredDate");
    if (date.empty()) date = ItemText(*document, "PostedDate");
    context.out << std::left << std::setw(22) << date << " " << std::setw(24) << ItemText(*document, "From") << " "
                << (report ? "[failure] " : "") << ItemText(*document, "Subject") << "\n";
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
  const bool ok = context.session.ServerReplicateEx(server, 0, flags, databases, stats);
  context.out << "databases " << stats.databases << ", pulled " << stats.pulledAdded << " added / "
              << stats.pulledUpdated << " updated / " << stats.pulledDeleted << " deleted, pushed "
              << stats.pushedAdded << " added / " << stats.pushedUpdated << " updated / " << stats.pushedDeleted
              << " deleted, conflicts " << stats.conflicts << ", errors " << stats.errors << "\n";
  if (!ok) Check(context.session.LastError ? context.session.LastError : HTFAIL_REPL_FAILED, "replication with " + server + " failed");
  return kExitOk;
}

int RunServer(Context& context, Arguments& arguments) {
  const std::string verb = arguments.Next("add");
  if (verb != "add") throw UsageError("unknown command '" + verb + "'");
  const std::string name = arguments.Next("NAME");
  const std::string directory = arguments.Next("DIRECTORY");
  arguments.ExpectEnd();
  const auto quoted = [](const std::string& text) {
    if (text.find('"') != std::string::npos) throw UsageError("names and directories may not hold '\"'");
    return "\"" + text + "\"";
  };
  const std::string command = "add server " + quoted(name) + " " + quoted(directory);
  char reply[kConsoleReply] = {};
  Check(HTAPI.HTServerExecute("", command.c_str(), sizeof reply, reply), "cannot add server '" + name + "'");
  context.out << reply << "\n";
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(names, "names", kNamesUsage, RunNames);
QUIRE_COMMAND_GROUP(mail, "mail", kMailUsage, RunMail);
QUIRE_COMMAND_GROUP(replicate, "replicate", kReplicateUsage, RunReplicate);
QUIRE_COMMAND_GROUP(server, "server", kServerUsage, RunServer);

}  // namespace quirecli
