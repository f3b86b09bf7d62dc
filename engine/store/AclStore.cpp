#include "engine/store/AclStore.h"

#include <cstring>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store::acl {
namespace {

Entry readEntry(Statement& st) {
  Entry e;
  e.name = st.text(0);
  e.level = int32_t(st.int64(1));
  e.flags = uint32_t(st.int64(2));
  Blob roles = st.blob(3);
  std::memcpy(e.roles.data(), roles.data(), std::min(roles.size(), e.roles.size()));
  return e;
}

// Every save checks access, and on a server each read of the list is a round trip made while
// the writer lock is held. Inside a write the list is therefore kept per ACL generation, which
// the write's own lock makes current (a server hands the properties over with the lock).
// A list read after this write changed the ACL is never kept: a rollback would take the
// generation back while another process may then give the same number to other entries.
struct Cache {
  bool known = false;
  int64_t generation = 0;
  uint64_t changedIn = 0;  // the transactionSerial of a write that changed the ACL, 0: none
  std::vector<Entry> entries;
};

Cache& cacheOf(Connection& conn) {
  if (!conn.aclCache) conn.aclCache = std::make_shared<Cache>();
  return *static_cast<Cache*>(conn.aclCache.get());
}

void changed(Connection& conn) {
  Cache& cache = cacheOf(conn);
  cache.known = false;
  cache.changedIn = conn.transactionSerial;
  prop::set(conn, prop::kAclGeneration, prop::getInt(conn, prop::kAclGeneration, 0) + 1);
}

std::vector<Entry> readList(Connection& conn) {
  auto st = conn.prepare("SELECT name, level, flags, roles FROM acl_entries ORDER BY position");
  std::vector<Entry> out;
  while (st->step()) out.push_back(readEntry(*st));
  return out;
}

}  // namespace

std::vector<Entry> list(Connection& conn) {
  // Outside a write the generation would cost a statement of its own: nothing to gain.
  if (!holdsWriteLock(conn)) return readList(conn);
  Cache& cache = cacheOf(conn);
  const bool changedHere = cache.changedIn != 0 && cache.changedIn == conn.transactionSerial;
  const int64_t generation = prop::getInt(conn, prop::kAclGeneration, 0);
  if (!changedHere && cache.known && cache.generation == generation) return cache.entries;
  std::vector<Entry> out = readList(conn);
  if (!changedHere) {
    cache.entries = out;
    cache.generation = generation;
    cache.known = true;
  }
  return out;
}

std::optional<Entry> find(Connection& conn, std::string_view name) {
  auto st = conn.prepare("SELECT name, level, flags, roles FROM acl_entries WHERE name_key = ?1");
  st->bind(1, foldCase(name));
  if (!st->step()) return std::nullopt;
  return readEntry(*st);
}

bool insert(Connection& conn, const Entry& e) {
  if (find(conn, e.name)) return false;
  auto st = conn.prepare(
      "INSERT INTO acl_entries(name_key, name, level, flags, roles, position) "
      "VALUES(?1, ?2, ?3, ?4, ?5, (SELECT COALESCE(MAX(position), 0) + 1 FROM acl_entries))");
  st->bind(1, foldCase(e.name)).bind(2, e.name).bind(3, int64_t(e.level)).bind(4, int64_t(e.flags));
  st->bindBlob(5, e.roles.data(), e.roles.size()).run();
  changed(conn);
  return true;
}

bool update(Connection& conn, std::string_view name, const Entry& e) {
  if (!find(conn, name)) return false;
  if (foldCase(name) != foldCase(e.name) && find(conn, e.name))
    raise(HTFAIL_ENTRY_EXISTS, "An access control entry named " + e.name + " already exists");
  auto st = conn.prepare(
      "UPDATE acl_entries SET name_key = ?2, name = ?3, level = ?4, flags = ?5, roles = ?6 WHERE name_key = ?1");
  st->bind(1, foldCase(name)).bind(2, foldCase(e.name)).bind(3, e.name).bind(4, int64_t(e.level));
  st->bind(5, int64_t(e.flags)).bindBlob(6, e.roles.data(), e.roles.size()).run();
  changed(conn);
  return true;
}

bool remove(Connection& conn, std::string_view name) {
  auto st = conn.prepare("DELETE FROM acl_entries WHERE name_key = ?1");
  st->bind(1, foldCase(name)).run();
  bool removed = conn.changes() > 0;
  if (removed) changed(conn);
  return removed;
}

void clear(Connection& conn) {
  conn.exec("DELETE FROM acl_entries; DELETE FROM acl_roles;");
  changed(conn);
}

std::string roleName(Connection& conn, int role) {
  auto st = conn.prepare("SELECT name FROM acl_roles WHERE role = ?1");
  st->bind(1, role);
  return st->step() ? st->text(0) : std::string();
}

void setRoleName(Connection& conn, int role, std::string_view name) {
  if (name.empty()) {
    conn.prepare("DELETE FROM acl_roles WHERE role = ?1")->bind(1, role).run();
  } else {
    conn.prepare("INSERT INTO acl_roles(role, name) VALUES(?1, ?2) ON CONFLICT(role) DO UPDATE SET name = excluded.name")
        ->bind(1, role)
        .bind(2, name)
        .run();
  }
  changed(conn);
}

}  // namespace quire::engine::store::acl
