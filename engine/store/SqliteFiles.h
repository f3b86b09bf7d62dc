// Work on whole SQLite database files, below the storage interface: page copies with SQLite's
// online backup and compaction, each reporting its progress in units of work.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "engine/store/Storage.h"

namespace quire::engine::store {

// (done, total) units of a long operation; total 0 when it is not known.
using Progress = std::function<void(uint64_t done, uint64_t total)>;

// backupSqlite writes one snapshot of the database `source` into the new file `target`
// (which must not exist) while other connections and processes go on writing the source:
// the copy runs inside one read transaction, so their commits neither restart nor enter it.
// restoreSqlite replaces the whole content of the database `target` with that of `source`
// under the target's write lock, held from the first page to the last, so readers see the
// old or the new content and never a mixture. Both report pages.
void backupSqlite(const std::filesystem::path& source, const std::filesystem::path& target, const Progress& progress);
void restoreSqlite(const std::filesystem::path& source, const std::filesystem::path& target, const Progress& progress);

// Rewrites the database of `conn` without its free space (VACUUM), outside any transaction,
// then checkpoints so the file shrinks. VACUUM tells nothing of how far it is: the reports
// count its steps with no total. HTFAIL_NOT_IMPLEMENTED on another backend.
void compactSqlite(Connection& conn, const Progress& progress);

}  // namespace quire::engine::store
