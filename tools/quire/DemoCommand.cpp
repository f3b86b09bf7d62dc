// quire demo: makes the sample database in the local data directory (once) and shows it.
#include <ostream>
#include <string>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "tools/quire/Cli.h"
#include "tools/sample/SampleData.h"

namespace quirecli {

namespace {

constexpr char kUsage[] = "  quire demo\n";

std::string DataDirectory() {
  char reply[4096] = {};
  if (HTAPI.HTServerExecute("", "directory", sizeof reply, reply) != 0) return "the data directory";
  return reply;
}

int RunDemo(Context& context, Arguments& arguments) {
  arguments.ExpectEnd();
  auto& out = context.out;
  const std::string directory = DataDirectory();
  bool created = false;
  auto database = quiresample::OpenSampleDatabase(context.session, created);
  const std::string user = context.session.GetUserName();
  out << "Quire keeps its databases in " << directory << "\n(set QUIRE_DATA or --data DIR to use another).\n\n";
  out << (created ? "Created" : "Using") << " the sample database " << quiresample::kSamplePath << " as " << user
      << ".\n";
  quiresample::EnsureSampleACL(*database, user);
  // Filled before its facts are shown, so the size and the index flag are those of the sample.
  quiresample::EnsureSampleData(*database, out);
  out << "\n";
  PrintDatabase(context, *database);
  out << "\nAccess control list:\n";
  auto acl = database->GetACL();
  PrintACL(context, *acl);
  out << "\n";
  quiresample::ShowSampleData(*database, out);
  const std::string path = quiresample::kSamplePath;
  out << "\nTry next:\n"
      << "  quire view show " << path << " \"By Customer\"          the whole view\n"
      << "  quire ftsearch " << path << " \"urgent AND delivery\"   a full-text search\n"
      << "  quire doc export " << path << " orders.jsonl          every document as JSON Lines\n";
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(demo, "demo", "make the sample database (once) and take a tour of it", kUsage, RunDemo);

}  // namespace quirecli
