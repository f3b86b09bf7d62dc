// Database properties kept in the `properties` table, one row per name.
//
// Integers, texts and blobs are stored as such; times are packed HTDATETIME (core/DateTime.h).
// Areas may add their own names (prefix them with the area: "ft.last_indexed").
// Write properties only through these functions: a direct SQL update of the table by this
// connection would not be seen by the cache until another connection changes the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/store/Storage.h"

namespace quire::engine::store::prop {

constexpr const char* kTitle = "title";                    // text
constexpr const char* kReplicaId = "replica_id";           // 8-byte blob: words W0, W1
constexpr const char* kDbId = "dbid";                      // 8-byte blob, unique per file
constexpr const char* kCreated = "created";                // packed date-time
constexpr const char* kClass = "class";                    // HTDBCLASS
constexpr const char* kFtIndexed = "ft_indexed";           // 0/1, maintained by engine/index
constexpr const char* kFtLastIndexed = "ft_last_indexed";  // packed date-time
constexpr const char* kReplicaPriority = "replica_priority";  // HTREPLICAPRIORITY
constexpr const char* kDocOpenDesign = "docopen_design";   // 0/1
constexpr const char* kUniformAccess = "uniform_access";   // 0/1: enforce the ACL locally too
constexpr const char* kDataModified = "data_modified";     // packed date-time
constexpr const char* kDesignModified = "design_modified"; // packed date-time
constexpr const char* kChangeCounter = "change_counter";   // last notes.change_seq handed out
constexpr const char* kCategories = "categories";          // text
constexpr const char* kTemplateName = "template_name";     // text
constexpr const char* kDesignTemplate = "design_template"; // text
constexpr const char* kDatabaseFlags = "database_flags";   // uint32
constexpr const char* kReplFlags = "repl_flags";           // uint32
constexpr const char* kReplicaCutoff = "replica_cutoff";   // packed date-time
constexpr const char* kAclGeneration = "acl_generation";   // bumped by every ACL change

std::optional<int64_t> getInt(Connection& conn, std::string_view name);
std::optional<std::string> getText(Connection& conn, std::string_view name);
std::optional<Blob> getBlob(Connection& conn, std::string_view name);
int64_t getInt(Connection& conn, std::string_view name, int64_t fallback);

void set(Connection& conn, std::string_view name, int64_t value);
void set(Connection& conn, std::string_view name, std::string_view text);
void setBlob(Connection& conn, std::string_view name, const Blob& value);

// For values written by nearly every change (the change counter, the modified times): the
// value is kept in memory, read back by getInt at once, and written by writeLater, which
// store::Transaction calls just before each real COMMIT, so a batch of saves writes it once.
// Only for values that only grow (a counter, a time): a value set in a savepoint that is
// rolled back is still written, which is harmless for those.
void setLater(Connection& conn, std::string_view name, int64_t value);
void writeLater(Connection& conn);

// Reads are answered from a per-connection cache while the file is unchanged; anything that
// undoes writes on the connection (a rollback) calls this so no undone value is served
// (values given to setLater stay, see above).
void forgetCached(Connection& conn);

}  // namespace quire::engine::store::prop
