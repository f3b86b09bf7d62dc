// Whole-database operations: copy, compaction, backup to a file and restore from one.
//
// All of them work on one snapshot of the file through SQLite's online backup (store/Storage.h),
// so other handles and processes may go on using the database meanwhile. Where the ACL is
// enforced they need Manager access, since they reach every document whatever its Readers
// items say. A database this process holds in delayed commit has its open batch committed
// first, so the copy holds everything its callers were told was saved.
#pragma once

#include <filesystem>
#include <string_view>

#include "hitest/HTQuireExtensions.h"

namespace quire::engine::db {

// HTDatabaseCopy: `flags` HTDBCOPY_REPLICA keeps the replica ID.
HTSTATUS copy(std::string_view fromServer, std::string_view fromPath, std::string_view toServer,
              std::string_view toPath, HTUINT flags);
HTSTATUS compact(std::string_view server, std::string_view path);
HTSTATUS backup(std::string_view server, std::string_view path, const std::filesystem::path& file);
// `flags` HTQUIRE_RESTORE_REPLACE allows replacing an existing database.
HTSTATUS restore(const std::filesystem::path& file, std::string_view server, std::string_view path, HTUINT flags);

}  // namespace quire::engine::db
