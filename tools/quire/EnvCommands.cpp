// quire env and quire servers: the session's environment strings and the server list.
#include <ostream>

#include "binding/Quire01.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kEnvUsage[] =
    "  quire env get NAME\n"
    "  quire env set NAME VALUE\n";

constexpr char kServersUsage[] = "  quire servers\n";

int Get(Context& context, Arguments& arguments) {
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  const std::string value = context.session.GetEnvironmentString(name);
  Check(context.session.LastError, "cannot read environment string '" + name + "'");
  context.out << value << "\n";
  return kExitOk;
}

int Set(Context& context, Arguments& arguments) {
  const std::string name = arguments.Next("NAME");
  const std::string value = arguments.Next("VALUE");
  arguments.ExpectEnd();
  context.session.SetEnvironmentString(name, value);
  Check(context.session.LastError, "cannot set environment string '" + name + "'");
  return kExitOk;
}

int RunEnv(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments, {{"get", Get}, {"set", Set}});
}

int RunServers(Context& context, Arguments& arguments) {
  arguments.ExpectEnd();
  auto& session = context.session;
  for (std::string name = session.GetServerName(qrFirst); session.LastError == 0;
       name = session.GetServerName(qrNext)) {
    context.out << name << "\n";
  }
  if (session.LastError != HTFAIL_END_OF_LIST) Check(session.LastError, "cannot list the servers");
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(env, "env", kEnvUsage, RunEnv);
QUIRE_COMMAND_GROUP(servers, "servers", kServersUsage, RunServers);

}  // namespace quirecli
