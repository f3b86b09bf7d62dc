// The database schema: the core tables (version kSchemaVersion, recorded in the connection's
// schema version) and the parts that later areas register.
//
// Core tables (see engine/README.md for the column meanings):
//   properties(name, value)                    database properties (PropertyName below)
//   notes(note_id, unid, note_class, ..., items, item_flags)
//                                              documents and design notes with their items
//                                              (store/Items.h), deletion stubs
//   attachments(attachment_id, note_id, name, bytes, size, host, created, modified)
//   acl_entries(name_key, name, level, flags, roles, position)
//   acl_roles(role, name)
//   replication_history(peer_replica, peer_server, peer_path, direction, last_change, last_time)
//   schema_parts(part, version)
//
// Areas add tables through a schema part: a name, a version, and a function that brings the
// part from the version stored in the file (0 = absent) to its own. Parts run at every open,
// in registration order, each in its own transaction, only when the file's version of the
// part is older. A file whose part version is newer than the engine's fails to open with
// HTFAIL_SCHEMA_TOO_NEW. Register from a static initialiser in the area's .cpp:
//
//   static const bool kRegistered = store::registerSchemaPart(
//       {"view", 1, [](store::Connection& c, int from) {
//          if (from < 1) c.exec("CREATE TABLE IF NOT EXISTS view_entries(...)");
//        }});
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/store/Storage.h"

namespace quire::engine::store {

// Marks a SQLite file as one of this engine's databases ("QUIR").
constexpr int64_t kApplicationId = 0x51554952;
// 1: items in a table of their own, one row per item. 2: items in one record per note;
// opening a version-1 file converts it in one transaction.
constexpr int kSchemaVersion = 2;

struct SchemaPart {
  std::string name;
  int version;
  std::function<void(Connection&, int fromVersion)> upgrade;
};

// Adds a part; returns true so it can initialise a static constant.
bool registerSchemaPart(SchemaPart part);

// Brings a connection's file to the current schema: the core tables on a new file, then every
// registered part. Throws Error(HTFAIL_SCHEMA_TOO_NEW) for a file from a newer engine.
void applySchema(Connection& conn);

// Whether the database has a table of that name (areas whose table is made on demand).
bool tableExists(Connection& conn, std::string_view table);

// Only checks versions (for read-only peeks): throws HTFAIL_SCHEMA_TOO_NEW when the core
// schema is newer than this engine's. Returns false when the file is older than this
// engine's schema (it must be opened for writing once, which converts it, before a read-only
// peek can read it).
bool checkSchemaVersion(Connection& conn);

}  // namespace quire::engine::store
