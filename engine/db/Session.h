// Process-wide session state: the HTSESSION_* properties that are not stored in the ini
// file, and the servers this process knows.
//
// Servers: the local server is the data directory; it answers to a null or empty name, to
// "Local", and to the local server name set with HTSESSION_LOCAL_SERVER_NAME. Every other
// name must be a [Servers] entry of quire.ini (core/Config.h) and maps to its directory, or
// to its PostgreSQL connection (root is then the postgresql:// entry, store/PgStorage.h).
// Thread-safe; reset when the engine stops.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "hitest/hitest.h"

namespace quire::engine::db {

struct ServerRef {
  std::string name;             // "" for the local server, else the configured spelling
  std::filesystem::path root;   // canonical data directory of the server
  bool named = false;           // a named server: its databases always enforce their ACL
};

// Resolves a server name; HTFAIL_SERVER_NOT_FOUND (detail recorded) for an unknown one or
// one whose directory is missing.
HTSTATUS resolveServer(std::string_view name, ServerRef& out);

// The local server first (under the local server name), then the named servers.
std::vector<std::string> serverNames();

// The session user: $QUIRE_USER, else the ini's user name.
std::string userName();

struct SessionSettings {
  std::string localServerName = "Local";
  uint32_t truncateText = 0;
  uint32_t keepMailDbOpen = 0;
  uint32_t abbreviateNames = 0;
  uint32_t summaryLimit = 0;
  uint32_t delayCommit = 0;
  uint32_t strictBind = 0;
  uint32_t fetchDesignFormula = 0;
  uint32_t docOpenDesign = 0;
  uint32_t newlineDelimiter = 0;
  std::string defaultTaskName;
  uint32_t viewCacheRows = 0;
};

SessionSettings settings();
void updateSettings(void (*change)(SessionSettings&, const void*), const void* arg);
template <typename F>
void changeSettings(F&& f) {
  updateSettings([](SessionSettings& s, const void* a) { (*static_cast<const F*>(a))(s); }, &f);
}

// The port last enabled on a server with HTServerSetPort ("" when none).
std::string portOf(std::string_view server);
void setPort(std::string_view server, std::string_view port);

}  // namespace quire::engine::db
