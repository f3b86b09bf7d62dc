// quire env, quire servers and quire info: environment strings, the server list, where the
// data lives.
#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "tools/quire/Cli.h"
#include "tools/quire/Help.h"

namespace quirecli {

namespace {

constexpr char kEnvUsage[] =
    "  quire env get NAME\n"
    "  quire env set NAME VALUE\n";

constexpr char kServersUsage[] = "  quire servers [--json]\n";

constexpr char kInfoUsage[] = "  quire info [--json]\n";

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

std::vector<std::string> ServerNames(TQuireSession& session) {
  std::vector<std::string> names;
  for (std::string name = session.GetServerName(qrFirst); session.LastError == 0;
       name = session.GetServerName(qrNext)) {
    names.push_back(name);
  }
  if (session.LastError != HTFAIL_END_OF_LIST) Check(session.LastError, "cannot list the servers");
  return names;
}

int RunServers(Context& context, Arguments& arguments) {
  const bool json = TakeJson(arguments);
  arguments.ExpectEnd();
  const std::vector<std::string> names = ServerNames(context.session);
  if (json) {
    context.out << nlohmann::ordered_json(names).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << "\n";
    return kExitOk;
  }
  for (const std::string& name : names) context.out << name << "\n";
  return kExitOk;
}

// The data directory as the engine resolved it, from the server console.
std::string DataDirectory() {
  char reply[4096] = {};
  if (HTAPI.HTServerExecute("", "directory", sizeof reply, reply) != 0) return "(unknown)";
  return reply;
}

int RunInfo(Context& context, Arguments& arguments) {
  const bool json = TakeJson(arguments);
  arguments.ExpectEnd();
  const std::string user = context.session.GetUserName();
  const std::vector<std::string> servers = ServerNames(context.session);
  if (json) {
    context.out << nlohmann::ordered_json{{"version", kQuireVersion},
                                          {"dataDirectory", DataDirectory()},
                                          {"user", user},
                                          {"servers", servers}}
                       .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << "\n";
    return kExitOk;
  }
  context.out << "quire " << kQuireVersion << "\n"
              << "Data directory: " << DataDirectory() << "\n"
              << "User:           " << user << "\n"
              << "Servers:        ";
  for (size_t k = 0; k < servers.size(); ++k) context.out << (k ? ", " : "") << servers[k];
  context.out << (servers.size() == 1 ? " (the local server only)" : "") << "\n";
  return kExitOk;
}

}  // namespace

QUIRE_COMMAND_GROUP(env, "env", "read and set environment strings of quire.ini", kEnvUsage, RunEnv);
QUIRE_COMMAND_GROUP(info, "info", "where the data lives, who you are and which servers are known", kInfoUsage, RunInfo);
QUIRE_COMMAND_GROUP(servers, "servers", "list the local server and the named servers", kServersUsage, RunServers);

}  // namespace quirecli
