// quire db: create, list, show and change databases.
#include <functional>
#include <iomanip>
#include <iostream>
#include <ostream>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kUsage[] =
    "  quire db create PATH [--title TITLE] [--server SERVER]\n"
    "  quire db list [DIRECTORY] [--server SERVER]\n"
    "  quire db show PATH [--server SERVER]\n"
    "  quire db set PATH title|delaycommit|replpriority VALUE [--server SERVER]\n";

const char* PriorityName(TQRReplPriority priority) {
  switch (priority) {
    case qrLow: return "low";
    case qrNormal: return "normal";
    case qrHigh: return "high";
  }
  return "unknown";
}

TQRReplPriority ParsePriority(const std::string& value) {
  if (value == "low" || value == "0") return qrLow;
  if (value == "normal" || value == "medium" || value == "1") return qrNormal;
  if (value == "high" || value == "2") return qrHigh;
  throw UsageError("unknown replication priority '" + value + "' (low, normal, high)");
}

int Create(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string title = arguments.TakeOption("--title");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  Check(HTAPI.HTDatabaseCreate(server.c_str(), ApiPath(path).c_str(), title.c_str(), "", HTDBCLASS_DATABASE),
        "cannot create database '" + path + "'");
  context.out << "created " << path << "\n";
  return kExitOk;
}

int List(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string directory = arguments.NextOr("");
  arguments.ExpectEnd();
  bool isDirectory = false;
  std::string fileName;
  std::string title;
  int32_t mode = HTLIST_FIRST;
  while (context.session.DBList(server, ApiPath(directory), mode, qrDatabase, 0, isDirectory, fileName, title)) {
    if (isDirectory && fileName == "..") {
      // The way up is not an entry of the directory.
    } else if (isDirectory) {
      context.out << "dir  " << fileName << "\n";
    } else {
      context.out << "db   " << std::left << std::setw(24) << fileName << " " << title << "\n";
    }
    mode = HTLIST_NEXT;
  }
  if (context.session.LastError != HTFAIL_END_OF_LIST) {
    Check(context.session.LastError, "cannot list '" + (directory.empty() ? std::string(".") : directory) + "'");
  }
  return kExitOk;
}

int Show(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  PrintDatabase(context, *database);
  return kExitOk;
}

int Set(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string property = arguments.Next("property (title, delaycommit, replpriority)");
  const std::string value = arguments.Next("VALUE");
  arguments.ExpectEnd();
  std::function<void(TQuireDatabase&)> change;
  if (property == "title") {
    change = [&value](TQuireDatabase& database) { database.SetTitle(value); };
  } else if (property == "delaycommit") {
    const bool on = ParseSwitch(value);
    change = [on](TQuireDatabase& database) { database.SetDelayCommit(on); };
  } else if (property == "replpriority") {
    const TQRReplPriority priority = ParsePriority(value);
    change = [priority](TQuireDatabase& database) { database.SetReplPriority(priority); };
  } else {
    throw UsageError("unknown property '" + property + "' (title, delaycommit, replpriority)");
  }
  auto database = OpenDatabase(context, server, path);
  change(*database);
  Check(database->LastError, "cannot set " + property + " of '" + path + "'");
  if (property == "delaycommit") {
    // The engine keeps it per open handle, and this one closes when the command ends.
    std::cerr << "quire: note: delay commit lasts only while a program holds the database open\n";
  }
  return kExitOk;
}

int Run(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"create", Create}, {"list", List}, {"show", Show}, {"set", Set}});
}

}  // namespace

void PrintDatabase(Context& context, TQuireDatabase& database) {
  auto& out = context.out;
  const auto row = [&out](const char* label) -> std::ostream& {
    return out << std::left << std::setw(19) << label;
  };
  const std::string server = database.GetServer();
  row("Title:") << database.GetTitle() << "\n";
  row("Server:") << (server.empty() ? "(local)" : server) << "\n";
  row("File name:") << database.GetFilename() << "\n";
  row("File path:") << database.GetFilePath() << "\n";
  row("Size:") << database.GetSize() << " bytes\n";
  row("Replica ID:") << database.GetReplicaID() << "\n";
  row("Created:") << database.GetCreated() << "\n";
  row("Full-text indexed:") << (database.GetIsFTIndexed() ? "yes" : "no") << "\n";
  row("Delay commit:") << (database.GetDelayCommit() ? "on" : "off") << "\n";
  row("Replica priority:") << PriorityName(database.GetReplPriority()) << "\n";
}

QUIRE_COMMAND_GROUP(db, "db", kUsage, Run);

}  // namespace quirecli
