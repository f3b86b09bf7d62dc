#include "engine/store/Schema.h"

#include <mutex>
#include <vector>

#include "engine/core/Status.h"
#include "engine/store/Items.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store {
namespace {

// Times are HTDATETIME packed into int64 (core/DateTime.h); UNIDs are 16-byte blobs.
constexpr const char* kCoreSchema = R"sql(
CREATE TABLE IF NOT EXISTS properties(
  name TEXT PRIMARY KEY,
  value
);
CREATE TABLE IF NOT EXISTS notes(
  note_id INTEGER PRIMARY KEY AUTOINCREMENT,
  unid BLOB NOT NULL UNIQUE,
  note_class INTEGER NOT NULL,
  form TEXT NOT NULL DEFAULT '',
  parent_unid BLOB,
  sequence INTEGER NOT NULL DEFAULT 1,
  sequence_time INTEGER NOT NULL DEFAULT 0,
  change_seq INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL DEFAULT 0,
  modified INTEGER NOT NULL DEFAULT 0,
  accessed INTEGER NOT NULL DEFAULT 0,
  deleted INTEGER NOT NULL DEFAULT 0,
  design_name TEXT NOT NULL DEFAULT '',
  design_alias TEXT NOT NULL DEFAULT '',
  design_flags INTEGER NOT NULL DEFAULT 0,
  owner TEXT NOT NULL DEFAULT '',
  items BLOB,
  item_flags INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS notes_by_class ON notes(note_class, deleted);
CREATE INDEX IF NOT EXISTS notes_by_parent ON notes(parent_unid) WHERE parent_unid IS NOT NULL;
CREATE INDEX IF NOT EXISTS notes_by_change ON notes(change_seq);
CREATE TABLE IF NOT EXISTS attachments(
  attachment_id INTEGER PRIMARY KEY AUTOINCREMENT,
  note_id INTEGER NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  bytes BLOB NOT NULL,
  size INTEGER NOT NULL,
  host INTEGER NOT NULL DEFAULT 0,
  created INTEGER NOT NULL DEFAULT 0,
  modified INTEGER NOT NULL DEFAULT 0,
  UNIQUE(note_id, name)
);
CREATE TABLE IF NOT EXISTS acl_entries(
  name_key TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  level INTEGER NOT NULL,
  flags INTEGER NOT NULL DEFAULT 0,
  roles BLOB NOT NULL,
  position INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS acl_roles(
  role INTEGER PRIMARY KEY CHECK(role BETWEEN 1 AND 80),
  name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS replication_history(
  peer_replica BLOB NOT NULL,
  peer_server TEXT NOT NULL,
  peer_path TEXT NOT NULL,
  direction INTEGER NOT NULL,
  last_change INTEGER NOT NULL DEFAULT 0,
  last_time INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(peer_replica, peer_server, direction)
);
CREATE TABLE IF NOT EXISTS schema_parts(
  part TEXT PRIMARY KEY,
  version INTEGER NOT NULL
);
)sql";

// The same tables on PostgreSQL. Note and attachment IDs come from sequences, as SQLite's
// AUTOINCREMENT never reuses one; a trigger gives an ID to a row inserted with none (SQLite
// does that for a NULL key) and leaves the last one where lastInsertId() finds it.
constexpr const char* kPgCoreSchema = R"sql(
CREATE TABLE properties(
  name TEXT PRIMARY KEY,
  value BYTEA
);
CREATE SEQUENCE note_ids;
CREATE TABLE notes(
  note_id BIGINT PRIMARY KEY,
  unid BYTEA NOT NULL UNIQUE,
  note_class BIGINT NOT NULL,
  form TEXT NOT NULL DEFAULT '',
  parent_unid BYTEA,
  sequence BIGINT NOT NULL DEFAULT 1,
  sequence_time BIGINT NOT NULL DEFAULT 0,
  change_seq BIGINT NOT NULL DEFAULT 0,
  created BIGINT NOT NULL DEFAULT 0,
  modified BIGINT NOT NULL DEFAULT 0,
  accessed BIGINT NOT NULL DEFAULT 0,
  deleted BIGINT NOT NULL DEFAULT 0,
  design_name TEXT NOT NULL DEFAULT '',
  design_alias TEXT NOT NULL DEFAULT '',
  design_flags BIGINT NOT NULL DEFAULT 0,
  owner TEXT NOT NULL DEFAULT '',
  items BYTEA,
  item_flags BIGINT NOT NULL DEFAULT 0
);
CREATE INDEX notes_by_class ON notes(note_class, deleted);
CREATE INDEX notes_by_parent ON notes(parent_unid) WHERE parent_unid IS NOT NULL;
CREATE INDEX notes_by_change ON notes(change_seq);
CREATE SEQUENCE attachment_ids;
CREATE TABLE attachments(
  attachment_id BIGINT PRIMARY KEY,
  note_id BIGINT NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  bytes BYTEA NOT NULL,
  size BIGINT NOT NULL,
  host BIGINT NOT NULL DEFAULT 0,
  created BIGINT NOT NULL DEFAULT 0,
  modified BIGINT NOT NULL DEFAULT 0,
  UNIQUE(note_id, name)
);
CREATE FUNCTION assign_note_id() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.note_id IS NULL THEN
    NEW.note_id := nextval('note_ids');
  ELSIF NEW.note_id > (SELECT last_value FROM note_ids) THEN
    PERFORM setval('note_ids', NEW.note_id);
  END IF;
  PERFORM set_config('quire.last_insert_id', NEW.note_id::text, false);
  RETURN NEW;
END $$;
CREATE TRIGGER notes_assign_id BEFORE INSERT ON notes FOR EACH ROW EXECUTE FUNCTION assign_note_id();
CREATE FUNCTION assign_attachment_id() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.attachment_id IS NULL THEN
    NEW.attachment_id := nextval('attachment_ids');
  END IF;
  PERFORM set_config('quire.last_insert_id', NEW.attachment_id::text, false);
  RETURN NEW;
END $$;
CREATE TRIGGER attachments_assign_id BEFORE INSERT ON attachments FOR EACH ROW EXECUTE FUNCTION assign_attachment_id();
CREATE TABLE acl_entries(
  name_key TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  level BIGINT NOT NULL,
  flags BIGINT NOT NULL DEFAULT 0,
  roles BYTEA NOT NULL,
  position BIGINT NOT NULL
);
CREATE TABLE acl_roles(
  role BIGINT PRIMARY KEY CHECK(role BETWEEN 1 AND 80),
  name TEXT NOT NULL
);
CREATE TABLE replication_history(
  peer_replica BYTEA NOT NULL,
  peer_server TEXT NOT NULL,
  peer_path TEXT NOT NULL,
  direction BIGINT NOT NULL,
  last_change BIGINT NOT NULL DEFAULT 0,
  last_time BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY(peer_replica, peer_server, direction)
);
CREATE TABLE schema_parts(
  part TEXT PRIMARY KEY,
  version BIGINT NOT NULL
);
)sql";

std::mutex gPartsMutex;
std::vector<SchemaPart>& parts() {
  static std::vector<SchemaPart> p;
  return p;
}

[[noreturn]] void tooNew(Connection& conn, const std::string& what, int found, int known) {
  raise(HTFAIL_SCHEMA_TOO_NEW, "Database " + conn.name() + " was written by a newer engine (" + what + " version " +
                                   std::to_string(found) + ", this engine knows " + std::to_string(known) + ")");
}

// Version 1 kept one row per item in `items`; gather each note's rows into its record.
void itemsIntoNotes(Connection& conn) {
  conn.exec(
      "ALTER TABLE notes ADD COLUMN items BLOB;"
      "ALTER TABLE notes ADD COLUMN item_flags INTEGER NOT NULL DEFAULT 0;");
  auto rows = conn.prepare("SELECT note_id, name, type, flags, value FROM items ORDER BY note_id, ordinal");
  auto update = conn.prepare("UPDATE notes SET items = ?2, item_flags = ?3 WHERE note_id = ?1");
  int64_t current = 0;
  std::vector<StoredItem> items;
  auto flush = [&] {
    if (current == 0) return;
    update->reset();
    update->bind(1, current).bindBlob(2, encodeItems(items)).bind(3, int64_t(itemFlags(items)));
    update->run();
  };
  while (rows->step()) {
    if (rows->int64(0) != current) {
      flush();
      current = rows->int64(0);
      items.clear();
    }
    items.push_back({rows->text(1), HTINT(rows->int64(2)), uint32_t(rows->int64(3)), rows->blob(4)});
  }
  flush();
  rows.reset();
  update.reset();
  conn.exec(
      "DROP INDEX IF EXISTS items_by_name;"
      "DROP TABLE items;"
      "DROP INDEX IF EXISTS notes_by_parent;"
      "CREATE INDEX notes_by_parent ON notes(parent_unid) WHERE parent_unid IS NOT NULL;");
}

void applyCore(Connection& conn) {
  int version = conn.schemaVersion();
  if (version > kSchemaVersion) tooNew(conn, "schema", version, kSchemaVersion);
  if (version == kSchemaVersion) return;
  Transaction tx(conn);
  version = conn.schemaVersion();  // another process may have done it meanwhile
  if (version < 1) conn.exec(conn.dialect() == Dialect::Postgres ? kPgCoreSchema : kCoreSchema);
  else if (version < 2) itemsIntoNotes(conn);
  conn.setSchemaVersion(kSchemaVersion);
  tx.commit();
}

int partVersion(Connection& conn, const std::string& name) {
  auto st = conn.prepare("SELECT version FROM schema_parts WHERE part = ?1");
  st->bind(1, name);
  return st->step() ? int(st->int64(0)) : 0;
}

void applyPart(Connection& conn, const SchemaPart& part) {
  int found = partVersion(conn, part.name);
  if (found > part.version) tooNew(conn, "part " + part.name, found, part.version);
  if (found == part.version) return;
  Transaction tx(conn);
  found = partVersion(conn, part.name);
  if (found < part.version) {
    part.upgrade(conn, found);
    auto st = conn.prepare(
        "INSERT INTO schema_parts(part, version) VALUES(?1, ?2) "
        "ON CONFLICT(part) DO UPDATE SET version = excluded.version");
    st->bind(1, part.name).bind(2, part.version).run();
  }
  tx.commit();
}

}  // namespace

bool tableExists(Connection& conn, std::string_view table) {
  auto st = conn.prepare(conn.dialect() == Dialect::Postgres
                             ? "SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() "
                               "AND table_name = ?1"
                             : "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  st->bind(1, table);
  return st->step();
}

bool registerSchemaPart(SchemaPart part) {
  std::lock_guard lock(gPartsMutex);
  parts().push_back(std::move(part));
  return true;
}

void applySchema(Connection& conn) {
  applyCore(conn);
  std::vector<SchemaPart> copy;
  {
    std::lock_guard lock(gPartsMutex);
    copy = parts();
  }
  for (const SchemaPart& part : copy) applyPart(conn, part);
}

bool checkSchemaVersion(Connection& conn) {
  int version = conn.schemaVersion();
  if (version > kSchemaVersion) tooNew(conn, "schema", version, kSchemaVersion);
  return version == kSchemaVersion;
}

}  // namespace quire::engine::store
