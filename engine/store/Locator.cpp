#include "engine/store/Locator.h"

#include <system_error>

namespace quire::engine::store {

namespace fs = std::filesystem;

bool exists(const fs::path& locator) {
  if (isRemote(locator)) return remoteExists(locator);
  std::error_code ec;
  return fs::is_regular_file(locator, ec);
}

std::unique_ptr<Connection> open(const fs::path& locator, const OpenOptions& options) {
  return isRemote(locator) ? openRemote(locator, options) : openSqlite(locator, options);
}

bool sameDatabase(const fs::path& a, const fs::path& b) {
  if (isRemote(a) || isRemote(b)) return a.native() == b.native();
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace quire::engine::store
