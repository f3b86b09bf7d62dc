#include "engine/db/ServerSecurity.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/db/Directory.h"
#include "engine/store/AclStore.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/store/Locator.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db::security {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kItemAuthors = 0x0020;
constexpr uint32_t kItemReaders = 0x0400;
constexpr size_t kRoleMax = 63;  // PostgreSQL cuts longer identifiers silently

// The calling role's row of acl_grants. Policies are parsed when they are made, so these
// names bind to the schema's own table whatever search path a client sets later.
constexpr const char* kNames = "(SELECT g.names FROM acl_grants g WHERE g.role_name = current_user)";
constexpr const char* kLevel = "COALESCE((SELECT g.level FROM acl_grants g WHERE g.role_name = current_user), 0)";
constexpr const char* kFlags = "COALESCE((SELECT g.flags FROM acl_grants g WHERE g.role_name = current_user), 0)";

// Database properties that only a Designer may set; the others (change counter, modified
// times, index bookkeeping) move with every save, so every writer must write them.
constexpr const char* kProtected =
    "name IN ('title', 'replica_id', 'dbid', 'created', 'class', 'uniform_access', 'replica_priority', "
    "'docopen_design', 'categories', 'template_name', 'design_template', 'database_flags', 'repl_flags', "
    "'replica_cutoff', 'acl_generation')";

std::string replaced(std::string text) {
  const std::pair<const char*, const char*> words[] = {{"{NAMES}", kNames}, {"{LEVEL}", kLevel}, {"{FLAGS}", kFlags},
                                                       {"{PROTECTED}", kProtected}};
  for (const auto& [from, to] : words) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + std::string_view(to).size()))
      text.replace(at, std::string_view(from).size(), to);
  }
  return text;
}

// Documents (class 1) by level and Authors items; design notes by Designers only.
constexpr const char* kPolicies = R"sql(
ALTER TABLE notes ADD COLUMN IF NOT EXISTS readers TEXT[];
ALTER TABLE notes ADD COLUMN IF NOT EXISTS authors TEXT[];
CREATE TABLE IF NOT EXISTS acl_grants(
  role_name TEXT PRIMARY KEY,
  level BIGINT NOT NULL,
  flags BIGINT NOT NULL DEFAULT 0,
  names TEXT[] NOT NULL
);
ALTER TABLE notes ENABLE ROW LEVEL SECURITY;
ALTER TABLE attachments ENABLE ROW LEVEL SECURITY;
ALTER TABLE properties ENABLE ROW LEVEL SECURITY;
CREATE POLICY notes_read ON notes FOR SELECT
  USING ({LEVEL} >= 2 AND (readers IS NULL OR readers && {NAMES}));
CREATE POLICY notes_create ON notes FOR INSERT
  WITH CHECK (CASE WHEN note_class = 1 THEN {LEVEL} = 1 OR ({LEVEL} >= 3 AND ({FLAGS} & 1) = 0) ELSE {LEVEL} >= 5 END);
CREATE POLICY notes_change ON notes FOR UPDATE
  USING ((readers IS NULL OR readers && {NAMES}) AND
         CASE WHEN note_class = 1 THEN {LEVEL} >= 4 OR ({LEVEL} = 3 AND authors && {NAMES}) ELSE {LEVEL} >= 5 END)
  WITH CHECK (CASE WHEN note_class = 1 THEN deleted = 0 OR ({FLAGS} & 4) = 0 ELSE {LEVEL} >= 5 END);
CREATE POLICY notes_remove ON notes FOR DELETE
  USING ((readers IS NULL OR readers && {NAMES}) AND
         CASE WHEN note_class = 1 THEN ({LEVEL} >= 4 OR ({LEVEL} = 3 AND authors && {NAMES})) AND ({FLAGS} & 4) = 0
              ELSE {LEVEL} >= 5 END);
CREATE POLICY attachments_read ON attachments FOR SELECT
  USING (EXISTS (SELECT 1 FROM notes n WHERE n.note_id = attachments.note_id));
CREATE POLICY attachments_create ON attachments FOR INSERT
  WITH CHECK ({LEVEL} = 1 OR ({LEVEL} >= 3 AND EXISTS (SELECT 1 FROM notes n WHERE n.note_id = attachments.note_id)));
CREATE POLICY attachments_change ON attachments FOR UPDATE
  USING (EXISTS (SELECT 1 FROM notes n WHERE n.note_id = attachments.note_id AND
                 CASE WHEN n.note_class = 1 THEN {LEVEL} >= 4 OR ({LEVEL} = 3 AND n.authors && {NAMES}) ELSE {LEVEL} >= 5 END));
CREATE POLICY attachments_remove ON attachments FOR DELETE
  USING (EXISTS (SELECT 1 FROM notes n WHERE n.note_id = attachments.note_id AND
                 CASE WHEN n.note_class = 1 THEN {LEVEL} >= 4 OR ({LEVEL} = 3 AND n.authors && {NAMES}) ELSE {LEVEL} >= 5 END));
CREATE POLICY properties_read ON properties FOR SELECT USING (true);
CREATE POLICY properties_create ON properties FOR INSERT WITH CHECK ({LEVEL} >= 5 OR NOT {PROTECTED});
CREATE POLICY properties_change ON properties FOR UPDATE
  USING ({LEVEL} >= 5 OR NOT {PROTECTED}) WITH CHECK ({LEVEL} >= 5 OR NOT {PROTECTED});
CREATE POLICY properties_remove ON properties FOR DELETE USING ({LEVEL} >= 5 OR NOT {PROTECTED});
)sql";

// Made by setup, owned by the role that ran it. apply_acl runs as that owner, so a Manager
// who changed the ACL can have the grants follow without owning the tables; it only ever
// makes the grants agree with acl_grants, which only Managers may write, so calling it
// gains nobody anything.
constexpr const char* kServerObjects = R"sql(
CREATE TABLE IF NOT EXISTS quire.people(
  role_name TEXT PRIMARY KEY,
  notes_name TEXT NOT NULL
);
DO $$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'quire_people') THEN
    CREATE ROLE quire_people NOLOGIN;
  END IF;
EXCEPTION WHEN duplicate_object OR unique_violation THEN
  NULL;  -- another setup made it meanwhile
END $$;
GRANT USAGE ON SCHEMA quire TO quire_people;
GRANT SELECT ON quire.databases, quire.people TO quire_people;
CREATE OR REPLACE FUNCTION quire.apply_acl(target TEXT) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  person RECORD;
  tab RECORD;
  lvl BIGINT;
  privs TEXT;
BEGIN
  IF NOT EXISTS (SELECT 1 FROM quire.databases WHERE schema_name = target) THEN
    RAISE EXCEPTION 'no database is kept in schema %', target USING ERRCODE = '42501';
  END IF;
  IF NOT has_table_privilege(session_user, format('%I.acl_grants', target), 'UPDATE') THEN
    RAISE EXCEPTION 'only a Manager of the database in schema % may apply its access control list', target
      USING ERRCODE = '42501';
  END IF;
  FOR person IN SELECT p.role_name FROM quire.people p JOIN pg_roles r ON r.rolname = p.role_name LOOP
    EXECUTE format('REVOKE ALL ON ALL TABLES IN SCHEMA %I FROM %I', target, person.role_name);
    EXECUTE format('REVOKE ALL ON ALL SEQUENCES IN SCHEMA %I FROM %I', target, person.role_name);
    EXECUTE format('REVOKE ALL ON SCHEMA %I FROM %I', target, person.role_name);
    lvl := NULL;
    EXECUTE format('SELECT level FROM %I.acl_grants WHERE role_name = $1', target) INTO lvl USING person.role_name;
    CONTINUE WHEN lvl IS NULL OR lvl < 1;
    EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', target, person.role_name);
    FOR tab IN SELECT c.relname FROM pg_class c JOIN pg_namespace s ON s.oid = c.relnamespace
               WHERE s.nspname = target AND c.relkind IN ('r', 'p') LOOP
      privs := CASE
        WHEN tab.relname IN ('notes', 'attachments') THEN
          CASE WHEN lvl = 1 THEN 'SELECT, INSERT' WHEN lvl = 2 THEN 'SELECT' ELSE 'SELECT, INSERT, UPDATE, DELETE' END
        WHEN tab.relname IN ('acl_entries', 'acl_roles', 'acl_grants') THEN
          CASE WHEN lvl >= 6 THEN 'SELECT, INSERT, UPDATE, DELETE' ELSE 'SELECT' END
        WHEN tab.relname IN ('quire_state', 'schema_parts') THEN 'SELECT'
        WHEN lvl = 2 THEN 'SELECT'
        ELSE 'SELECT, INSERT, UPDATE, DELETE'
      END;
      EXECUTE format('GRANT %s ON %I.%I TO %I', privs, target, tab.relname, person.role_name);
    END LOOP;
    IF lvl <> 2 THEN
      EXECUTE format('GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA %I TO %I', target, person.role_name);
      EXECUTE format('GRANT UPDATE (data_version) ON %I.quire_state TO %I', target, person.role_name);
    END IF;
  END LOOP;
END $$;
REVOKE ALL ON FUNCTION quire.apply_acl(TEXT) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION quire.apply_acl(TEXT) TO quire_people;
)sql";

// The names a text or text-list item lists, blanks left out.
std::vector<std::string> listedNames(HTINT type, const uint8_t* value, size_t size) {
  std::vector<std::string> out;
  if (type == HTTYPE_TEXT) {
    std::string text;
    if (store::codec::decodeText(store::Blob(value, value + size), text)) out.push_back(std::move(text));
  } else if (type == HTTYPE_TEXT_LIST) {
    store::codec::decodeTextList(value, size, out);
  }
  out.erase(std::remove_if(out.begin(), out.end(), [](const std::string& s) { return trim(s).empty(); }), out.end());
  return out;
}

// A key with a control character cannot be anyone's name, and the unit separator would split
// it into names that might be someone's.
bool plainKey(const std::string& key) {
  return std::none_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void addKey(std::vector<std::string>& keys, const std::string& key) {
  if (!key.empty() && plainKey(key) && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
}

store::NoteAccessNames namesOf(const std::vector<store::StoredItem>& items) {
  bool limited = false;
  std::vector<std::string> readers;
  std::vector<std::string> authors;
  bool hasAuthors = false;
  for (const store::StoredItem& item : items) {
    if (!(item.flags & (kItemReaders | kItemAuthors))) continue;
    for (const std::string& name : listedNames(item.type, item.value.data(), item.value.size())) {
      const std::string key = readerKey(name);
      if (item.flags & kItemReaders) limited = true;
      addKey(readers, key);
      if (item.flags & kItemAuthors) {
        hasAuthors = true;
        addKey(authors, key);
      }
    }
  }
  store::NoteAccessNames out;
  if (limited) out.readers = std::move(readers);
  if (hasAuthors) out.authors = std::move(authors);
  return out;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += '\x1f';
    out += n;
  }
  return out;
}

// Existing notes of a database made before its schema had these columns.
void fillAccessColumns(store::Connection& conn) {
  auto rows = conn.prepare("SELECT note_id, items FROM notes WHERE (item_flags & ?1) != 0");
  rows->bind(1, int64_t(kItemReaders | kItemAuthors));
  std::vector<std::pair<int64_t, store::NoteAccessNames>> found;
  while (rows->step()) {
    std::vector<store::StoredItem> items;
    if (!store::decodeItems(rows->blob(1), items)) continue;  // reported when the note is read
    found.emplace_back(rows->int64(0), namesOf(items));
  }
  auto update = conn.prepare(
      "UPDATE notes SET readers = string_to_array(?2, chr(31)), authors = string_to_array(?3, chr(31)) "
      "WHERE note_id = ?1");
  for (const auto& [id, names] : found) {
    update->reset();
    update->bind(1, id);
    if (names.readers) update->bind(2, joined(*names.readers)); else update->bindNull(2);
    if (names.authors) update->bind(3, joined(*names.authors)); else update->bindNull(3);
    update->run();
  }
}

const bool kSchemaRegistered = store::registerSchemaPart({"security", 1, [](store::Connection& c, int from) {
  if (c.dialect() != store::Dialect::Postgres || from >= 1) return;
  c.exec(replaced(kPolicies));
  fillAccessColumns(c);
}});

const bool kHooksInstalled = [] {
  store::setNoteAccessNamesFunction(&namesOf);
  store::setDefaultRole([] { return roleName(userName()); });
  return true;
}();

std::string quotedIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool serverSetUp(store::Connection& conn) {
  auto st = conn.prepare(
      "SELECT to_regclass('quire.people') IS NOT NULL AND to_regprocedure('quire.apply_acl(text)') IS NOT NULL");
  return st->step() && st->int64(0) != 0;
}

void requirePostgres(const ServerRef& server) {
  if (!store::isRemote(server.root))
    raise(HTFAIL_INVALID_ARGUMENT, "Server " + (server.name.empty() ? std::string("Local") : server.name) +
                                       " keeps its databases in files, not in PostgreSQL; its files' owner decides "
                                       "who reads them");
}

std::vector<std::string> roleKeys(store::Connection& conn, const Access& access) {
  std::vector<std::string> out;
  for (int role = 1; role <= store::acl::kRoleCount; ++role) {
    if (!((access.roles[size_t(role - 1) / 8] >> ((role - 1) % 8)) & 1)) continue;
    const std::string name = store::acl::roleName(conn, role);
    if (!trim(name).empty()) out.push_back(readerKey("[" + name + "]"));
  }
  return out;
}

// The people of the server's names.nsf: the first FullName entry of each Person document.
std::vector<std::string> directoryPeople(const ServerRef& server) {
  const fs::path file = store::remoteLocator(server.root, kDirectoryFile);
  std::vector<std::string> out;
  if (!store::exists(file)) return out;
  auto database = openFile(file);
  auto lock = database->lock();
  auto st = database->conn().prepare(
      "SELECT items FROM notes WHERE note_class = ?1 AND deleted = 0 AND form = 'Person' COLLATE NOCASE "
      "ORDER BY note_id");
  st->bind(1, int64_t(store::note_class::kDocument));
  while (st->step()) {
    const store::Blob record = st->blob(0);
    store::ItemRef item;
    if (!store::findItem(record, "FullName", item)) continue;
    std::vector<std::string> names = listedNames(item.type, item.value, item.size);
    if (!names.empty()) out.emplace_back(trim(names.front()));
  }
  return out;
}

// Role and grant statements go as simple queries: they take no parameters.
void run(store::Connection& conn, const std::string& sql) { conn.exec(sql); }

// What the role of each person should be a member of, and what one who left should lose.
void setupPeople(store::Connection& conn, const ServerRef& server, ServerState& state) {
  std::set<std::string> current;
  for (const std::string& person : directoryPeople(server)) {
    const std::string role = roleName(person);
    if (role.empty()) continue;
    auto found = conn.prepare("SELECT rolsuper FROM pg_roles WHERE rolname = ?1");
    found->bind(1, role);
    const bool exists = found->step();
    if (exists && found->int64(0)) {
      state.notes.push_back("role \"" + role + "\" of " + person + " is a superuser; left as it is");
      continue;
    }
    if (!current.insert(role).second) {
      state.notes.push_back("role \"" + role + "\" answers to more than one person; " + person + " shares it");
      continue;
    }
    if (!exists) run(conn, "CREATE ROLE " + quotedIdentifier(role) + " LOGIN");
    run(conn, "GRANT quire_people TO " + quotedIdentifier(role));
    auto put = conn.prepare(
        "INSERT INTO quire.people(role_name, notes_name) VALUES(?1, ?2) "
        "ON CONFLICT(role_name) DO UPDATE SET notes_name = excluded.notes_name");
    put->bind(1, role).bind(2, person).run();
  }
  std::vector<std::string> gone;
  auto listed = conn.prepare("SELECT role_name FROM quire.people");
  while (listed->step())
    if (!current.count(listed->text(0))) gone.push_back(listed->text(0));
  std::vector<std::string> schemas;
  auto catalogued = conn.prepare("SELECT schema_name FROM quire.databases");
  while (catalogued->step()) schemas.push_back(catalogued->text(0));
  for (const std::string& role : gone) {
    auto exists = conn.prepare("SELECT 1 FROM pg_roles WHERE rolname = ?1");
    exists->bind(1, role);
    if (exists->step()) {
      for (const std::string& schema : schemas) {
        for (const char* what : {"ALL TABLES IN SCHEMA ", "ALL SEQUENCES IN SCHEMA ", "SCHEMA "})
          run(conn, std::string("REVOKE ALL ON ") + what + quotedIdentifier(schema) + " FROM " + quotedIdentifier(role));
      }
      run(conn, "REVOKE quire_people FROM " + quotedIdentifier(role));
    }
    conn.prepare("DELETE FROM quire.people WHERE role_name = ?1")->bind(1, role).run();
    state.notes.push_back("role \"" + role + "\" is no longer in names.nsf; its grants were revoked, the role kept");
  }
}

void setupDatabase(const ServerRef& server, const std::string& path) {
  auto database = openFile(store::remoteLocator(server.root, path));
  auto lock = database->lock();
  store::Transaction tx(database->conn());
  syncGrants(database->conn(), server.root);
  tx.commit();
}

std::string jsonText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

const char* boolText(bool b) { return b ? "true" : "false"; }

}  // namespace

std::string roleName(std::string_view notesName) {
  std::string key = nameKey(notesName);
  if (key.empty()) return key;
  if (key.rfind("pg_", 0) == 0) key.insert(0, "~");
  if (key.size() <= kRoleMax) return key;
  uint64_t hash = 1469598103934665603ull;  // FNV-1a: stable across builds and machines
  for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "~%08x", unsigned(hash & 0xFFFFFFFFu));
  return key.substr(0, utf8Boundary(key, kRoleMax - 9)) + suffix;
}

std::string readerKey(std::string_view name) {
  std::string_view t = trim(name);
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') return "[" + foldCase(trim(t.substr(1, t.size() - 2))) + "]";
  return nameKey(t);
}

store::NoteAccessNames accessNames(const std::vector<store::StoredItem>& items) { return namesOf(items); }

void syncGrants(store::Connection& conn, const fs::path& serverRoot) {
  if (conn.dialect() != store::Dialect::Postgres || !serverSetUp(conn)) return;
  const std::vector<store::acl::Entry> entries = store::acl::list(conn);
  std::vector<std::pair<std::string, std::string>> people;
  auto listed = conn.prepare("SELECT role_name, notes_name FROM quire.people ORDER BY role_name");
  while (listed->step()) people.emplace_back(listed->text(0), listed->text(1));
  conn.exec("DELETE FROM acl_grants");
  auto put = conn.prepare(
      "INSERT INTO acl_grants(role_name, level, flags, names) VALUES(?1, ?2, ?3, string_to_array(?4, chr(31)))");
  for (const auto& [role, person] : people) {
    const Access access = aclAccess(entries, serverRoot, person);
    std::vector<std::string> names;
    addKey(names, nameKey(person));
    for (const std::string& group : groupsOf(serverRoot, person)) addKey(names, group);
    for (const std::string& key : roleKeys(conn, access)) addKey(names, key);
    put->reset();
    put->bind(1, role).bind(2, int64_t(access.level)).bind(3, int64_t(access.flags)).bind(4, joined(names)).run();
  }
  conn.prepare("SELECT quire.apply_acl(current_schema())")->run();
}

void grantIndexTable(store::Connection& conn, const std::string& table) {
  if (conn.dialect() != store::Dialect::Postgres || !serverSetUp(conn)) return;
  // The rule quire.apply_acl gives every table that is neither notes, attachments, the ACL
  // nor the schema's bookkeeping: Readers read, everyone else with access keeps it up.
  std::vector<std::pair<std::string, int64_t>> people;
  {
    auto st = conn.prepare(
        "SELECT g.role_name, g.level FROM acl_grants g JOIN pg_roles r ON r.rolname = g.role_name "
        "WHERE g.level >= 1 ORDER BY g.role_name");
    while (st->step()) people.emplace_back(st->text(0), st->int64(1));
  }
  for (const auto& [role, level] : people)
    conn.exec("GRANT " + std::string(level == 2 ? "SELECT" : "SELECT, INSERT, UPDATE, DELETE") + " ON " +
              quotedIdentifier(table) + " TO " + quotedIdentifier(role));
}

ServerState setup(const ServerRef& server) {
  requirePostgres(server);
  ServerState state;
  {
    auto conn = store::openServer(server.root);
    conn->exec("BEGIN");
    try {
      conn->exec(kServerObjects);
      setupPeople(*conn, server, state);
      conn->exec("COMMIT");
    } catch (...) {
      try {
        conn->exec("ROLLBACK");
      } catch (const Error&) {
      }
      throw;
    }
  }
  for (const std::string& path : store::listRemote(server.root)) {
    try {
      setupDatabase(server, path);
    } catch (const Error& e) {
      state.notes.push_back(path + ": " + e.what());
    }
  }
  ServerState now = status(server);
  now.notes = std::move(state.notes);
  return now;
}

ServerState status(const ServerRef& server) {
  requirePostgres(server);
  ServerState state;
  state.server = server.name;
  auto conn = store::openServer(server.root);
  {
    auto me = conn->prepare("SELECT current_user, rolsuper FROM pg_roles WHERE rolname = current_user");
    if (me->step()) {
      state.connectedAs = me->text(0);
      state.superuser = me->int64(1) != 0;
    }
  }
  state.setUp = serverSetUp(*conn);
  if (state.setUp) {
    auto people = conn->prepare(
        "SELECT p.notes_name, p.role_name, r.rolname IS NOT NULL, COALESCE(r.rolcanlogin, false) "
        "FROM quire.people p LEFT JOIN pg_roles r ON r.rolname = p.role_name ORDER BY p.role_name");
    while (people->step())
      state.people.push_back({people->text(0), people->text(1), people->int64(2) != 0, people->int64(3) != 0});
  }
  auto databases = conn->prepare(
      "SELECT d.path, d.schema_name, COALESCE(c.relrowsecurity, false), to_regclass(quote_ident(d.schema_name) || "
      "'.acl_grants') IS NOT NULL FROM quire.databases d LEFT JOIN pg_namespace s ON s.nspname = d.schema_name "
      "LEFT JOIN pg_class c ON c.relnamespace = s.oid AND c.relname = 'notes' ORDER BY d.path");
  std::vector<std::pair<DatabaseState, bool>> found;
  while (databases->step())
    found.push_back({DatabaseState{databases->text(0), databases->text(1), databases->int64(2) != 0, {}, {}},
                     databases->int64(3) != 0});
  for (auto& [db, hasGrants] : found) {
    if (hasGrants) {
      try {
        const std::string table = quotedIdentifier(db.schema) + ".";
        auto grants = conn->prepare(
            "SELECT g.role_name, g.level, concat_ws(' ', "
            "CASE WHEN has_table_privilege(r.oid, ?1, 'SELECT') THEN 'select' END, "
            "CASE WHEN has_table_privilege(r.oid, ?1, 'INSERT') THEN 'insert' END, "
            "CASE WHEN has_table_privilege(r.oid, ?1, 'UPDATE') THEN 'update' END, "
            "CASE WHEN has_table_privilege(r.oid, ?1, 'DELETE') THEN 'delete' END) "
            "FROM " + table + "acl_grants g LEFT JOIN pg_roles r ON r.rolname = g.role_name ORDER BY g.role_name");
        grants->bind(1, table + "notes");
        while (grants->step()) db.grants.push_back({grants->text(0), int(grants->int64(1)), grants->text(2)});
      } catch (const Error& e) {
        db.error = e.what();
      }
    } else {
      db.error = "its schema predates server security; run quire server setup";
    }
    state.databases.push_back(std::move(db));
  }
  return state;
}

std::string toJson(const ServerState& s) {
  std::string out = "{\"server\":" + jsonText(s.server) + ",\"connectedAs\":" + jsonText(s.connectedAs) +
                    ",\"superuser\":" + boolText(s.superuser) + ",\"setUp\":" + boolText(s.setUp) + ",\"people\":[";
  for (size_t i = 0; i < s.people.size(); ++i) {
    const PersonState& p = s.people[i];
    out += std::string(i ? "," : "") + "{\"name\":" + jsonText(p.notesName) + ",\"role\":" + jsonText(p.role) +
           ",\"exists\":" + boolText(p.exists) + ",\"login\":" + boolText(p.login) + "}";
  }
  out += "],\"databases\":[";
  for (size_t i = 0; i < s.databases.size(); ++i) {
    const DatabaseState& d = s.databases[i];
    out += std::string(i ? "," : "") + "{\"path\":" + jsonText(d.path) + ",\"schema\":" + jsonText(d.schema) +
           ",\"rowSecurity\":" + boolText(d.rowSecurity) + ",\"grants\":[";
    for (size_t k = 0; k < d.grants.size(); ++k) {
      const GrantState& g = d.grants[k];
      out += std::string(k ? "," : "") + "{\"role\":" + jsonText(g.role) + ",\"level\":" + jsonText(levelName(g.level)) +
             ",\"notes\":" + jsonText(g.privileges) + "}";
    }
    out += "]";
    if (!d.error.empty()) out += ",\"error\":" + jsonText(d.error);
    out += "}";
  }
  out += "],\"notes\":[";
  for (size_t i = 0; i < s.notes.size(); ++i) out += std::string(i ? "," : "") + jsonText(s.notes[i]);
  return out + "]}";
}

}  // namespace quire::engine::db::security
