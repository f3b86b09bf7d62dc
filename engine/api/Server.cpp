// Server entry points: the local data directory and the named servers of quire.ini.
#include <cstring>
#include <system_error>

#include "engine/core/Engine.h"
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/ThreadState.h"
#include "engine/core/ListCursor.h"
#include "engine/core/Text.h"
#include "engine/db/Session.h"

using namespace quire::engine;

namespace {

constexpr size_t kPortCapacity = 32;

struct ServerName {
  std::string name;
};

}  // namespace

HT_EXPORT HTSTATUS HTServerList(HTINT listMode, char* server) {
  return guard([&] {
    HT_REQUIRE_ARG(server);
    server[0] = '\0';
    config();
    // Each thread walks its own list, so two threads listing servers do not disturb each other.
    ListCursor<ServerName>* cursor = threadState<ListCursor<ServerName>>();
    if (!cursor) return fail(HTFAIL_NOT_INITIALIZED, "The thread is ending; lists are no longer kept");
    ServerName out;
    auto load = [] {
      std::vector<ServerName> names;
      for (auto& n : db::serverNames()) names.push_back({std::move(n)});
      return names;
    };
    if (HTSTATUS s = cursor->step(listMode, load, out)) return s;
    copyText(server, HT_SERVER_NAME_CAPACITY, out.name);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTServerGetProperty(const char* server, HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    config();
    db::ServerRef ref;
    HTSTATUS found = db::resolveServer(textArg(server), ref);
    switch (property) {
      case HTSERVER_IS_AVAILABLE: {
        uint32_t available = found == HTSUCCESS ? 1 : 0;
        std::memcpy(value, &available, sizeof available);
        return HTSUCCESS;
      }
      case HTSERVER_PORT_NAME:
        if (found) return found;
        copyText(static_cast<char*>(value), kPortCapacity, db::portOf(ref.name));
        return HTSUCCESS;
      default:
        return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown server property " + std::to_string(property));
    }
  });
}

HT_EXPORT HTSTATUS HTServerSetPort(const char* server, const char* port, char* reply) {
  return guard([&] {
    HT_REQUIRE_ARG(reply);
    reply[0] = '\0';
    config();
    std::string_view p = trim(textArg(port));
    if (p.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No port name given");
    if (!fits(p, kPortCapacity)) return fail(HTFAIL_TEXT_TOO_LONG, "A port name may have at most 31 bytes");
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    const std::string shown = ref.named ? ref.name : db::settings().localServerName;
    db::setPort(ref.name, p);
    copyText(reply, HT_PORT_REPLY_CAPACITY, "Port " + std::string(p) + " enabled for " + shown);
    return HTSUCCESS;
  });
}
