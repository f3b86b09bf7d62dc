// quire db: create, list, show, change, copy, compact, back up, restore and delete databases.
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <ostream>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kUsage[] =
    "  quire db create PATH [--title TITLE] [--server SERVER]\n"
    "  quire db list [DIRECTORY] [--server SERVER] [--json]\n"
    "  quire db show PATH [--server SERVER] [--json]\n"
    "  quire db set PATH title|delaycommit|replpriority VALUE [--server SERVER]\n"
    "  quire db delete PATH [--server SERVER]\n"
    "  quire db copy PATH NEWPATH [--replica] [--server SERVER] [--to-server SERVER]\n"
    "      a new database with the documents, design and ACL of PATH; --replica keeps the\n"
    "      replica ID, so the copy replicates with PATH\n"
    "  quire db compact PATH [--server SERVER]\n"
    "      rewrites the file without its free space\n"
    "  quire db backup PATH FILE [--server SERVER]\n"
    "      writes one consistent snapshot of PATH to FILE while others go on using it\n"
    "  quire db restore FILE PATH [--force] [--server SERVER]\n"
    "      puts the backup FILE in place as PATH; --force replaces a database already there\n";

using Json = nlohmann::ordered_json;

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
  const bool json = TakeJson(arguments);
  const std::string directory = arguments.NextOr("");
  arguments.ExpectEnd();
  Json entries = Json::array();
  bool isDirectory = false;
  std::string fileName;
  std::string title;
  int32_t mode = HTLIST_FIRST;
  while (context.session.DBList(server, ApiPath(directory), mode, qrDatabase, 0, isDirectory, fileName, title)) {
    if (isDirectory && fileName == "..") {
      // The way up is not an entry of the directory.
    } else if (json) {
      Json entry = {{"type", isDirectory ? "directory" : "database"}, {"name", fileName}};
      if (!isDirectory) entry["title"] = title;
      entries.push_back(entry);
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
  if (json) context.out << entries.dump(2) << "\n";
  return kExitOk;
}

HTDATETIME Created(TQuireDatabase& database) {
  HTDATETIME created{};
  if (HTAPI.HTDatabaseGetProperty(database.DbHandle, HTDATABASE_CREATED, &created) != 0) return HTDATETIME{};
  return created;
}

Json DatabaseJson(TQuireDatabase& database) {
  const std::string server = database.GetServer();
  return Json{{"title", database.GetTitle()},
              {"server", server},
              {"fileName", database.GetFilename()},
              {"filePath", database.GetFilePath()},
              {"size", database.GetSize()},
              {"replicaId", database.GetReplicaID()},
              {"created", IsoDateTime(Created(database))},
              {"fullTextIndexed", database.GetIsFTIndexed()},
              {"delayCommit", database.GetDelayCommit()},
              {"replicaPriority", PriorityName(database.GetReplPriority())}};
}

int Show(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  if (json) {
    context.out << DatabaseJson(*database).dump(2) << "\n";
  } else {
    PrintDatabase(context, *database);
  }
  return kExitOk;
}

int Delete(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  Check(HTAPI.HTDatabaseDelete(server.c_str(), ApiPath(path).c_str()), "cannot delete database '" + path + "'");
  context.out << "deleted " << path << "\n";
  return kExitOk;
}

int Copy(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool toServerGiven = arguments.HasOption("--to-server");
  const std::string toServer = arguments.TakeOption("--to-server");
  const bool replica = arguments.TakeFlag("--replica");
  const std::string path = arguments.Next("PATH");
  const std::string target = arguments.Next("NEWPATH");
  arguments.ExpectEnd();
  ProgressLine progress;
  Check(HTAPI.HTDatabaseCopy(server.c_str(), ApiPath(path).c_str(), (toServerGiven ? toServer : server).c_str(),
                             ApiPath(target).c_str(), replica ? HTDBCOPY_REPLICA : 0),
        "cannot copy '" + path + "' to '" + target + "'");
  context.out << (replica ? "made the replica " : "copied to ") << target << "\n";
  return kExitOk;
}

int Compact(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  const auto size = [&] {
    auto database = OpenDatabase(context, server, path);
    return database->GetSize();
  };
  const long long before = size();
  {
    ProgressLine progress;
    Check(HTAPI.HTDatabaseCompact(server.c_str(), ApiPath(path).c_str(), 0), "cannot compact '" + path + "'");
  }
  const long long after = size();
  context.out << "compacted " << path << ": " << before << " -> " << after << " bytes\n";
  return kExitOk;
}

// A file name as the user typed it, made absolute: the engine may not share our directory.
std::string FilePath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return error ? file : absolute.string();
}

int Backup(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string file = arguments.Next("FILE");
  arguments.ExpectEnd();
  auto backup = EngineExtension<HT_HTQuireBackup_fn>("HTQuireBackup");
  if (!backup) throw Failure("this engine cannot make backups");
  ProgressLine progress;
  Check(backup(server.c_str(), ApiPath(path).c_str(), FilePath(file).c_str()),
        "cannot back up '" + path + "' to '" + file + "'");
  context.out << "backed up " << path << " to " << file << "\n";
  return kExitOk;
}

int Restore(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool force = arguments.TakeFlag("--force");
  const std::string file = arguments.Next("FILE");
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto restore = EngineExtension<HT_HTQuireRestore_fn>("HTQuireRestore");
  if (!restore) throw Failure("this engine cannot restore backups");
  ProgressLine progress;
  const HTSTATUS status = restore(FilePath(file).c_str(), server.c_str(), ApiPath(path).c_str(),
                                  force ? HTQUIRE_RESTORE_REPLACE : 0);
  if (status == HTFAIL_DB_EXISTS) throw Failure("'" + path + "' exists; give --force to replace it");
  Check(status, "cannot restore '" + file + "' as '" + path + "'");
  context.out << "restored " << path << " from " << file << "\n";
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
  return Dispatch(context, arguments,
                  {{"create", Create},
                   {"list", List},
                   {"show", Show},
                   {"set", Set},
                   {"delete", Delete},
                   {"copy", Copy},
                   {"compact", Compact},
                   {"backup", Backup},
                   {"restore", Restore}});
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
  // The object model's GetCreated keeps its own unpadded form; people read the locale's.
  row("Created:") << DateTimeText(Created(database)) << "\n";
  row("Full-text indexed:") << (database.GetIsFTIndexed() ? "yes" : "no") << "\n";
  row("Delay commit:") << (database.GetDelayCommit() ? "on" : "off") << "\n";
  row("Replica priority:") << PriorityName(database.GetReplPriority()) << "\n";
}

QUIRE_COMMAND_GROUP(db, "db", "create, list, show, change, copy, compact, back up, restore and delete databases", kUsage, Run);

}  // namespace quirecli
