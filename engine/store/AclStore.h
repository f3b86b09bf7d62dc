// The access-control list and the role table as stored (acl_entries, acl_roles).
//
// Entry names are unique without regard to case (name_key is the case-folded name); the
// spelling given is kept for display. Entries keep the order they were added in. Roles 1..80
// each have a name of at most 17 bytes; an unused role has no row (reads as "").
// Writes bump the acl_generation property so caches of effective access can tell.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/store/Storage.h"

namespace quire::engine::store::acl {

constexpr int kRoleCount = 80;
constexpr size_t kRoleNameMax = 17;
constexpr const char* kDefaultEntry = "-Default-";

struct Entry {
  std::string name;
  int32_t level = 0;   // HTACLLEVEL
  uint32_t flags = 0;  // HTACLFLAG_*
  std::array<uint8_t, 10> roles{};
};

std::vector<Entry> list(Connection& conn);
std::optional<Entry> find(Connection& conn, std::string_view name);
// False when an entry of that name exists.
bool insert(Connection& conn, const Entry& entry);
// Replaces the entry named `name` (kept in its place) by `entry`; false when absent.
// Renaming onto another existing entry's name throws Error(HTFAIL_ENTRY_EXISTS).
bool update(Connection& conn, std::string_view name, const Entry& entry);
bool remove(Connection& conn, std::string_view name);
void clear(Connection& conn);

std::string roleName(Connection& conn, int role);
void setRoleName(Connection& conn, int role, std::string_view name);

}  // namespace quire::engine::store::acl
