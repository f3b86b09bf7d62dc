// quire demo: makes the sample database in the local data directory (once) and shows it.
#include <ostream>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "tools/quire/Cli.h"
#include "tools/sample/SampleData.h"

namespace quirecli {

namespace {

constexpr char kUsage[] = "  quire demo\n";

int RunDemo(Context& context, Arguments& arguments) {
  arguments.ExpectEnd();
  bool created = false;
  auto database = quiresample::OpenSampleDatabase(context.session, created);
  const std::string user = context.session.GetUserName();
  quiresample::EnsureSampleACL(*database, user);
  auto& out = context.out;
  out << (created ? "Created" : "Using") << " the sample database " << quiresample::kSamplePath << " as " << user << "\n\n";
  PrintDatabase(context, *database);
  out << "\nAccess control list:\n";
  auto acl = database->GetACL();
  PrintACL(context, *acl);
  out << "\n";
  quiresample::EnsureSampleData(*database, out);
  quiresample::ShowSampleData(*database, out);
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(demo, "demo", kUsage, RunDemo);

}  // namespace quirecli
