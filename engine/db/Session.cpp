#include "engine/db/Session.h"

#include <map>
#include <mutex>
#include <system_error>

#include "engine/core/Engine.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/PgStorage.h"

namespace quire::engine::db {
namespace {

namespace fs = std::filesystem;

std::mutex gMutex;
SessionSettings gSettings;
std::map<std::string, std::string> gPorts;  // folded server name -> port

const bool kResetAtStop = [] {
  onStop([] {
    std::lock_guard lock(gMutex);
    gSettings = SessionSettings{};
    gPorts.clear();
  });
  return true;
}();

bool isLocalName(std::string_view name) {
  if (trim(name).empty() || equalsNoCase(name, "Local")) return true;
  std::lock_guard lock(gMutex);
  return !gSettings.localServerName.empty() && equalsNoCase(name, gSettings.localServerName);
}

}  // namespace

HTSTATUS resolveServer(std::string_view name, ServerRef& out) {
  Config& cfg = config();
  if (isLocalName(name)) {
    out = ServerRef{"", cfg.dataDir(), false};
    return HTSUCCESS;
  }
  auto server = cfg.findServer(trim(name));
  if (!server) return fail(HTFAIL_SERVER_NOT_FOUND, "Server " + std::string(name) + " is not configured");
  if (store::isRemote(server->directory)) {
    if (!store::postgresAvailable())
      return fail(HTFAIL_NOT_IMPLEMENTED, "Server " + server->name +
                                              " is on PostgreSQL, and this engine was built without PostgreSQL support");
    out = ServerRef{server->name, server->directory, true};
    return HTSUCCESS;
  }
  std::error_code ec;
  fs::path root = fs::canonical(server->directory, ec);
  if (ec || !fs::is_directory(root, ec)) {
    return fail(HTFAIL_SERVER_NOT_FOUND,
                "Server " + server->name + " is not available: " + server->directory.string() + " is missing");
  }
  out = ServerRef{server->name, root, true};
  return HTSUCCESS;
}

std::vector<std::string> serverNames() {
  std::vector<std::string> names;
  {
    std::lock_guard lock(gMutex);
    names.push_back(gSettings.localServerName.empty() ? "Local" : gSettings.localServerName);
  }
  for (const auto& s : config().servers()) names.push_back(s.name);
  return names;
}

std::string userName() { return config().userName(); }

SessionSettings settings() {
  std::lock_guard lock(gMutex);
  return gSettings;
}

void updateSettings(void (*change)(SessionSettings&, const void*), const void* arg) {
  std::lock_guard lock(gMutex);
  change(gSettings, arg);
}

std::string portOf(std::string_view server) {
  std::lock_guard lock(gMutex);
  auto it = gPorts.find(foldCase(server));
  return it == gPorts.end() ? std::string() : it->second;
}

void setPort(std::string_view server, std::string_view port) {
  std::lock_guard lock(gMutex);
  gPorts[foldCase(server)] = std::string(port);
}

}  // namespace quire::engine::db
