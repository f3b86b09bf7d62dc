// What lies in a server's data directory: the listing of one directory (HTDatabaseList) and
// searches over every database below the root (locate by title or replica ID).
//
// Database files are recognised by extension (.nsf databases, .ntf templates) and by being
// databases of this engine; other files, hidden files and half-created files are skipped.
// Titles are read without keeping the file open (or from the open Database if this process
// has it).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/db/Session.h"
#include "hitest/hitest.h"

namespace quire::engine::db {

struct CatalogEntry {
  bool isDatabase = false;
  std::string title;  // a directory's title is its name
  std::string file;   // name within the listed directory ("abc.nsf", "mail", "..")
  std::string apiPath;  // path below the server root ("mail\abc.nsf")
  HTREPLICAID replicaId{};  // databases only
};

// The entries of `directory` (API form, "" = root; "mail\.." resolves to the root) for
// `listClass` (HTDBLISTCLASS): a ".." entry when below the root, then directories, then the
// databases, each group in name order.
HTSTATUS listDirectory(const ServerRef& server, std::string_view directory, HTINT listClass,
                       std::vector<CatalogEntry>& out);

// Every database below the root, depth first, in name order.
std::vector<CatalogEntry> allDatabases(const ServerRef& server);

// The title and replica ID of a database file; nullopt when it is not one of ours.
struct DatabaseInfo {
  std::string title;
  HTREPLICAID replicaId{};
};
std::optional<DatabaseInfo> peek(const std::filesystem::path& file);

}  // namespace quire::engine::db
