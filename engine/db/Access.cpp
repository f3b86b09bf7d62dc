#include "engine/db/Access.h"

#include <algorithm>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Directory.h"
#include "engine/store/AclStore.h"
#include "engine/store/Properties.h"

namespace quire::engine::db {
namespace {

Access fromEntry(const store::acl::Entry& e) {
  Access a;
  a.level = e.level;
  a.flags = e.flags;
  a.roles = e.roles;
  return a;
}

Access managerAccess() {
  Access a;
  a.level = HTACLLEVEL_MANAGER;
  a.flags = HTACLFLAG_PERSONAL_AGENTS | HTACLFLAG_PERSONAL_FOLDERS;
  a.roles.fill(0xFF);
  return a;
}

std::string dbName(DbHandle& h) {
  std::string name = h.apiPath();
  if (h.server().named) name += " on server " + h.server().name;
  return name;
}

}  // namespace

std::string nameKey(std::string_view name) {
  std::string out;
  std::string_view rest = trim(name);
  while (true) {
    size_t slash = rest.find('/');
    std::string_view part = trim(rest.substr(0, slash));
    size_t eq = part.find('=');
    if (eq != std::string_view::npos && eq <= 2) {
      std::string prefix = foldCase(part.substr(0, eq));
      if (prefix == "cn" || prefix == "ou" || prefix == "o" || prefix == "c") part = trim(part.substr(eq + 1));
    }
    out += part;
    if (slash == std::string_view::npos) break;
    out += '/';
    rest = rest.substr(slash + 1);
  }
  return foldCase(out);
}

const char* levelName(int32_t level) {
  static const char* kNames[] = {"No Access", "Depositor", "Reader", "Author", "Editor", "Designer", "Manager"};
  return level >= 0 && level <= 6 ? kNames[level] : "unknown";
}

bool enforced(DbHandle& h) {
  if (h.server().named) return true;
  auto& db = *h.database();
  auto lock = db.lock();
  return store::prop::getInt(db.conn(), store::prop::kUniformAccess, 0) != 0;
}

Access aclAccess(Database& db, const std::filesystem::path& serverRoot, const std::string& user) {
  std::vector<store::acl::Entry> entries;
  {
    auto lock = db.lock();
    entries = store::acl::list(db.conn());
  }
  return aclAccess(entries, serverRoot, user);
}

Access aclAccess(const std::vector<store::acl::Entry>& entries, const std::filesystem::path& serverRoot,
                 const std::string& user) {
  const std::string userKey = nameKey(user);
  for (const auto& e : entries)
    if (!(e.flags & HTACLFLAG_GROUP) && nameKey(e.name) == userKey) return fromEntry(e);
  // Group entries: any entry may name a group, flagged or not, as long as the directory
  // lists the user in it.
  std::vector<std::string> groups = groupsOf(serverRoot, user);
  std::optional<Access> best;
  for (const auto& e : entries) {
    if (std::find(groups.begin(), groups.end(), nameKey(e.name)) == groups.end()) continue;
    if (!best) {
      best = fromEntry(e);
      continue;
    }
    if (e.level > best->level) {
      best->level = e.level;
      best->flags = e.flags;
    }
    for (size_t i = 0; i < best->roles.size(); ++i) best->roles[i] |= e.roles[i];
  }
  if (best) return *best;
  for (const auto& e : entries)
    if (equalsNoCase(e.name, store::acl::kDefaultEntry)) return fromEntry(e);
  return Access{};
}

Access effectiveAccess(DbHandle& h) {
  if (!enforced(h)) return managerAccess();
  Access a = aclAccess(*h.database(), h.server().root, userName());
  a.enforced = true;
  return a;
}

HTSTATUS requireAccess(DbHandle& h, int32_t level, std::string_view what) {
  return requireAccess(h, effectiveAccess(h), level, what);
}

HTSTATUS requireAccess(DbHandle& h, const Access& a, int32_t level, std::string_view what) {
  if (a.level >= level) return HTSUCCESS;
  return fail(HTFAIL_ACCESS_DENIED, "User " + userName() + " needs " + levelName(level) + " access to " +
                                        std::string(what) + " in " + dbName(h) + " but has " + levelName(a.level));
}

HTSTATUS requireManager(DbHandle& h, std::string_view what) {
  Access a = effectiveAccess(h);
  if (a.level >= HTACLLEVEL_MANAGER) return HTSUCCESS;
  return fail(HTFAIL_NOT_MANAGER, "User " + userName() + " has " + levelName(a.level) + " access to " + dbName(h) +
                                      "; only a Manager may " + std::string(what));
}

}  // namespace quire::engine::db
