// quire server setup and quire server status: security at a server kept in PostgreSQL.
#include "tools/quire/ServerSecurity.h"

#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

using Json = nlohmann::ordered_json;

Json Report(const std::string& server, HTUINT action) {
  auto security = EngineExtension<HT_HTQuireServerSecurity_fn>("HTQuireServerSecurity");
  if (!security) throw Failure("this engine does not offer server security");
  std::vector<char> buffer(1 << 16);
  HTUINT needed = 0;
  HTSTATUS status = security(server.c_str(), action, HTUINT(buffer.size()), buffer.data(), &needed);
  if (status == HTFAIL_TEXT_TOO_LONG && needed > buffer.size()) {
    // Asking again costs a second round: setup changes nothing the second time.
    buffer.resize(needed);
    status = security(server.c_str(), action, HTUINT(buffer.size()), buffer.data(), &needed);
  }
  Check(status, action == HTQUIRE_SERVER_SETUP ? "cannot set up server '" + server + "'"
                                               : "cannot read the state of server '" + server + "'");
  return Json::parse(buffer.data(), nullptr, false);
}

void Print(Context& context, const Json& state) {
  std::ostream& out = context.out;
  out << "Server:        " << state.value("server", "") << "\n"
      << "Connected as:  " << state.value("connectedAs", "") << (state.value("superuser", false) ? " (superuser)" : "")
      << "\n"
      << "Set up:        " << (state.value("setUp", false) ? "yes" : "no (run quire server setup)") << "\n";
  out << "\nPeople:\n";
  if (state["people"].empty()) out << "  (none)\n";
  for (const Json& p : state["people"]) {
    out << "  " << p.value("name", "") << "  ->  role \"" << p.value("role", "") << "\"";
    if (!p.value("exists", false)) out << " (missing)";
    else if (!p.value("login", false)) out << " (cannot log in)";
    out << "\n";
  }
  out << "\nDatabases:\n";
  if (state["databases"].empty()) out << "  (none)\n";
  for (const Json& d : state["databases"]) {
    out << "  " << d.value("path", "") << "  schema " << d.value("schema", "")
        << "  row-level security " << (d.value("rowSecurity", false) ? "on" : "off") << "\n";
    if (d.contains("error")) out << "    " << d.value("error", "") << "\n";
    for (const Json& g : d["grants"]) {
      const std::string notes = g.value("notes", "");
      out << "    " << g.value("role", "") << ": " << g.value("level", "") << " (notes: " << (notes.empty() ? "-" : notes)
          << ")\n";
    }
  }
  if (!state["notes"].empty()) {
    out << "\nNotes:\n";
    for (const Json& n : state["notes"]) out << "  " << n.get<std::string>() << "\n";
  }
}

int Run(Context& context, Arguments& arguments, HTUINT action) {
  const bool json = TakeJson(arguments);
  const std::string server = arguments.Next("SERVER");
  arguments.ExpectEnd();
  const Json state = Report(server, action);
  if (state.is_discarded()) throw Failure("the engine's report on server '" + server + "' is not readable");
  if (json) {
    context.out << state.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  } else {
    Print(context, state);
  }
  return kExitOk;
}

}  // namespace

int ServerSetup(Context& context, Arguments& arguments) { return Run(context, arguments, HTQUIRE_SERVER_SETUP); }
int ServerStatus(Context& context, Arguments& arguments) { return Run(context, arguments, HTQUIRE_SERVER_STATUS); }

}  // namespace quirecli
