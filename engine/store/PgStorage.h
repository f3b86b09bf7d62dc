// The PostgreSQL backend of the storage interface: a server shared by many machines.
//
// Addressing. A quire.ini server entry may name a connection instead of a directory:
//   [Servers]  Sales = postgresql://host:port/dbname
// The user and password come the usual libpq ways (PGUSER, PGPASSWORD, ~/.pgpass, a service
// file); the engine never writes them anywhere. A Unix-socket directory goes in the host part
// percent-encoded (postgresql://%2Fvar%2Frun%2Fpostgresql:5432/quire). Query parameters are
// not accepted in the entry, because a database's locator is the entry with its path appended.
//
// Layout. One PostgreSQL database holds every Notes database of the server. Each Notes
// database is a schema of its own (nsf_<n>) holding the same tables as a SQLite file; the
// schema `quire` keeps the catalogue (path -> schema) and what the schemas share. A locator
// (what db::Database keys its registry on, an std::filesystem::path for the code above) is
// "postgresql://host:port/dbname/<path with slashes>", with the path's letter case folded so
// that "MAIL\Abc.nsf" and "mail\abc.nsf" are one database, as they are on a directory server.
//
// Ownership and threads: as for every Connection (Storage.h). Each open Database owns one
// libpq connection. The free functions below open a short-lived connection of their own.
//
// Failures throw Error: HTFAIL_SERVER_NOT_FOUND when the server cannot be reached or refuses
// the login, HTFAIL_DB_NOT_FOUND / HTFAIL_DB_EXISTS for the catalogue, HTFAIL_ACCESS_DENIED when
// PostgreSQL refuses a statement for want of privilege, HTFAIL_CONFLICT for a serialization
// failure that outlived the engine's retries, HTFAIL_STORAGE_ERROR otherwise. In a build
// without libpq every function throws HTFAIL_NOT_IMPLEMENTED naming the missing support.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/Status.h"
#include "engine/store/Storage.h"

namespace quire::engine::store {

// Thrown by a connection's commit() when the transaction did commit but the server could not
// confirm that it reached the disk: the change may or may not survive a crash of the server,
// so the caller must take it neither as saved nor as lost.
class UnconfirmedCommit : public Error {
 public:
  using Error::Error;
};

// Whether this build can reach PostgreSQL servers at all.
bool postgresAvailable();

// Whether `text` (a quire.ini server entry or a locator) names a PostgreSQL server.
bool isServerUri(std::string_view text);
inline bool isRemote(const std::filesystem::path& file) { return isServerUri(file.native()); }

// The locator of the database at `apiPath` (backslashes or slashes, already checked to stay
// inside the server) on the server whose entry is `root`.
std::filesystem::path remoteLocator(const std::filesystem::path& root, std::string_view apiPath);

// Opens the database at `locator`. With options.create, makes a new, empty schema that
// nobody else can find until publishRemote() succeeds (so no one opens a half-made
// database), and throws HTFAIL_DB_EXISTS when the path is taken already.
std::unique_ptr<Connection> openRemote(const std::filesystem::path& locator, const OpenOptions& options);
// Enters the schema made by openRemote(create) in the catalogue; HTFAIL_DB_EXISTS when
// another creator won meanwhile (the schema is then dropped).
void publishRemote(Connection& created);
// Drops a schema made by openRemote(create) that will not be published.
void discardRemote(Connection& created) noexcept;

bool remoteExists(const std::filesystem::path& locator);
// Deletes the database: its schema and its catalogue entry, in one transaction.
void removeRemote(const std::filesystem::path& locator);
// Every database path of the server (slash form, as spelled when it was created).
std::vector<std::string> listRemote(const std::filesystem::path& root);

// Logging in. Users connect as their own roles: when neither the server entry
// (postgresql://role@host/...) nor libpq's environment (PGUSER, PGSERVICE) names a role, a
// connection logs in as the role `role()` returns (the session user's, db/ServerSecurity.h),
// rather than as the operating system's user. Set once by the session layer; null (the
// default) leaves libpq's own choice.
using DefaultRoleFn = std::string (*)();
void setDefaultRole(DefaultRoleFn role);

// A connection to the server's PostgreSQL database itself, with the catalogue schema made
// (and on its search path) but no Notes database entered: for setting up the server.
std::unique_ptr<Connection> openServer(const std::filesystem::path& root);

}  // namespace quire::engine::store
