// Stands in for the PostgreSQL backend in a build without libpq: a quire.ini entry naming a
// postgresql:// server is recognised and refused with a message saying why, instead of being
// taken for a directory.
#include "engine/core/Status.h"
#include "engine/store/ManyRows.h"
#include "engine/store/PgStorage.h"

namespace quire::engine::store {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void unsupported(const std::string& what) {
  raise(HTFAIL_NOT_IMPLEMENTED, "This engine was built without PostgreSQL support and cannot reach " + what);
}

}  // namespace

bool postgresAvailable() { return false; }

Statement& manyRows(Statement& st) { return st; }
Statement& atCommit(Statement& st) { return st; }

bool isServerUri(std::string_view text) {
  return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

fs::path remoteLocator(const fs::path& root, std::string_view apiPath) {
  std::string path;
  for (char c : apiPath) path += c == '\\' ? '/' : c;
  return fs::path(root.native() + "/" + path);
}

std::unique_ptr<Connection> openRemote(const fs::path& locator, const OpenOptions&) { unsupported(locator.native()); }
void publishRemote(Connection& created) { unsupported(created.name()); }
void discardRemote(Connection&) noexcept {}
bool remoteExists(const fs::path& locator) { unsupported(locator.native()); }
void removeRemote(const fs::path& locator) { unsupported(locator.native()); }
std::vector<std::string> listRemote(const fs::path& root) { unsupported(root.native()); }
void setDefaultRole(DefaultRoleFn) {}
std::unique_ptr<Connection> openServer(const fs::path& root) { unsupported(root.native()); }

}  // namespace quire::engine::store
