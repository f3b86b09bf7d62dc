#include "engine/db/Acl.h"

#include <cstring>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/ServerSecurity.h"
#include "engine/store/AclStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {
namespace {

namespace acl = store::acl;

HTACLENTRY toRecord(const acl::Entry& e) {
  HTACLENTRY r{};
  copyText(r.name, sizeof r.name, e.name);
  r.level = e.level;
  r.flags = e.flags;
  std::memcpy(r.roles, e.roles.data(), sizeof r.roles);
  return r;
}

HTSTATUS recordName(const HTACLENTRY& r, std::string& out) {
  size_t n = strnlen(r.name, sizeof r.name);
  if (n == sizeof r.name) return fail(HTFAIL_TEXT_TOO_LONG, "An access control entry name may have at most 255 bytes");
  out = std::string(trim(std::string_view(r.name, n)));
  if (out.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "An access control entry needs a name");
  return HTSUCCESS;
}

HTSTATUS checkLevel(int32_t level) {
  if (level < HTACLLEVEL_NO_ACCESS || level > HTACLLEVEL_MANAGER)
    return fail(HTFAIL_INVALID_ARGUMENT, "Access level must be between 0 (No Access) and 6 (Manager)");
  return HTSUCCESS;
}

HTSTATUS checkRole(HTINT role) {
  if (role < 1 || role > acl::kRoleCount) return fail(HTFAIL_BAD_ROLE, "Role " + std::to_string(role) + " does not exist; roles are numbered 1 to 80");
  return HTSUCCESS;
}

HTSTATUS notFound(std::string_view name) {
  return fail(HTFAIL_ENTRY_NOT_FOUND, "No access control entry named " + std::string(name));
}

void clearRoleEverywhere(store::Connection& conn, int role) {
  const size_t byte = size_t(role - 1) / 8;
  const uint8_t bit = uint8_t(1u << ((role - 1) % 8));
  for (acl::Entry e : acl::list(conn)) {
    if (!(e.roles[byte] & bit)) continue;
    const std::string name = e.name;
    e.roles[byte] &= uint8_t(~bit);
    acl::update(conn, name, e);
  }
}

}  // namespace

HTSTATUS aclList(DbHandle& h, HTINT listMode, HTACLENTRY& out) {
  if (HTSTATUS s = requireAccess(h, HTACLLEVEL_READER, "read the access control list")) return s;
  auto load = [&] {
    Database& db = *h.database();
    auto lock = db.lock();
    std::vector<HTACLENTRY> records;
    for (const auto& e : acl::list(db.conn())) records.push_back(toRecord(e));
    return records;
  };
  return h.aclCursor.step(listMode, load, out);
}

HTSTATUS aclAdd(DbHandle& h, const HTACLENTRY& entry) {
  std::string name;
  if (HTSTATUS s = recordName(entry, name)) return s;
  if (HTSTATUS s = checkLevel(entry.level)) return s;
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  acl::Entry e{name, entry.level, entry.flags, {}};
  std::memcpy(e.roles.data(), entry.roles, e.roles.size());
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  if (!acl::insert(db.conn(), e)) return fail(HTFAIL_ENTRY_EXISTS, "An access control entry named " + name + " already exists");
  security::syncGrants(db.conn(), h.server().root);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS aclDelete(DbHandle& h, std::string_view name) {
  if (trim(name).empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No entry name given");
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  if (!acl::remove(db.conn(), trim(name))) return notFound(name);
  security::syncGrants(db.conn(), h.server().root);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS aclUpdate(DbHandle& h, const HTACLENTRY& entry, const HTACLENTRY& newEntry, HTUINT mask) {
  std::string name;
  if (HTSTATUS s = recordName(entry, name)) return s;
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  auto current = acl::find(db.conn(), name);
  if (!current) return notFound(name);
  acl::Entry changed = *current;
  if (mask & HTACLUPDATE_NAME) {
    if (HTSTATUS s = recordName(newEntry, changed.name)) return s;
  }
  if (mask & HTACLUPDATE_LEVEL) {
    if (HTSTATUS s = checkLevel(newEntry.level)) return s;
    changed.level = newEntry.level;
  }
  if (mask & HTACLUPDATE_ROLES) std::memcpy(changed.roles.data(), newEntry.roles, changed.roles.size());
  if (mask & HTACLUPDATE_FLAGS) changed.flags = newEntry.flags;
  acl::update(db.conn(), current->name, changed);
  security::syncGrants(db.conn(), h.server().root);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS aclLookup(DbHandle& h, std::string_view name, HTACLENTRY& out) {
  if (HTSTATUS s = requireAccess(h, HTACLLEVEL_READER, "read the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  auto e = acl::find(db.conn(), trim(name));
  if (!e) return notFound(name);
  out = toRecord(*e);
  return HTSUCCESS;
}

HTSTATUS aclGetRoleName(DbHandle& h, HTINT role, char* name) {
  name[0] = '\0';
  if (HTSTATUS s = checkRole(role)) return s;
  if (HTSTATUS s = requireAccess(h, HTACLLEVEL_READER, "read the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  copyText(name, HT_ROLE_NAME_CAPACITY, acl::roleName(db.conn(), role));
  return HTSUCCESS;
}

HTSTATUS aclSetRoleName(DbHandle& h, HTINT role, std::string_view name) {
  if (HTSTATUS s = checkRole(role)) return s;
  if (name.size() > acl::kRoleNameMax)
    return fail(HTFAIL_TEXT_TOO_LONG, "A role name may have at most 17 bytes: " + std::string(name));
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  if (!name.empty()) {
    for (int other = 1; other <= acl::kRoleCount; ++other) {
      if (other != role && equalsNoCase(acl::roleName(db.conn(), other), name))
        return fail(HTFAIL_ENTRY_EXISTS, "Role " + std::to_string(other) + " is already named " + std::string(name));
    }
  } else {
    clearRoleEverywhere(db.conn(), role);
  }
  acl::setRoleName(db.conn(), role, name);
  security::syncGrants(db.conn(), h.server().root);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS aclReset(DbHandle& h) {
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  acl::clear(db.conn());
  acl::insert(db.conn(), {userName(), HTACLLEVEL_MANAGER, 0, {}});
  acl::insert(db.conn(),
              {acl::kDefaultEntry, h.server().named ? HTACLLEVEL_NO_ACCESS : HTACLLEVEL_AUTHOR, 0, {}});
  security::syncGrants(db.conn(), h.server().root);
  tx.commit();
  return HTSUCCESS;
}

HTSTATUS aclAccessLevel(DbHandle& h, HTINT& level, HTUINT& flags) {
  Access a = effectiveAccess(h);
  level = a.level;
  flags = a.flags;
  return HTSUCCESS;
}

HTSTATUS aclGetProperty(DbHandle& h, HTINT property, void* value) {
  if (property != HTACL_UNIFORM_ACL)
    return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown access control property " + std::to_string(property));
  Database& db = *h.database();
  auto lock = db.lock();
  uint32_t v = store::prop::getInt(db.conn(), store::prop::kUniformAccess, 0) != 0 ? 1 : 0;
  std::memcpy(value, &v, sizeof v);
  return HTSUCCESS;
}

HTSTATUS aclSetProperty(DbHandle& h, HTINT property, HTUINT value) {
  if (property != HTACL_UNIFORM_ACL)
    return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown access control property " + std::to_string(property));
  if (HTSTATUS s = requireManager(h, "change the access control list")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  store::prop::set(db.conn(), store::prop::kUniformAccess, int64_t(value != 0 ? 1 : 0));
  store::prop::set(db.conn(), store::prop::kAclGeneration,
                   store::prop::getInt(db.conn(), store::prop::kAclGeneration, 0) + 1);
  tx.commit();
  return HTSUCCESS;
}

}  // namespace quire::engine::db
