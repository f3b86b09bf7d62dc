// Where a database lives: a SQLite file below a directory server, or a schema on a PostgreSQL
// server (store/PgStorage.h). Code above the store names a database by one path either way
// (its "locator") and asks here instead of the file system, so the same code serves both.
//
// Failures throw Error as the backend's open does; "no such database" is a false from
// exists(). Thread-safe: every call uses connections of its own.
#pragma once

#include <filesystem>
#include <memory>

#include "engine/store/PgStorage.h"
#include "engine/store/Storage.h"

namespace quire::engine::store {

// Whether a database is at `locator` (a regular file, or a catalogued remote database).
bool exists(const std::filesystem::path& locator);

// Opens the database at `locator` with the backend it names.
std::unique_ptr<Connection> open(const std::filesystem::path& locator, const OpenOptions& options);

// Whether two locators name the same database.
bool sameDatabase(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace quire::engine::store
