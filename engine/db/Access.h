// Access control: the session user's effective access to a database, and the checks other
// areas call before they read or write.
//
// The ACL is enforced for databases opened through a named server, and for local databases
// whose uniform-access property is on; elsewhere the local user owns the files and has
// Manager access with every flag. Where enforced, the effective access is found in order:
//   1. the entry whose name equals the user's (without regard to case, and with "CN=", "OU=",
//      "O=", "C=" prefixes ignored, so "CN=Ann Lee/O=Acme" matches "Ann Lee/Acme");
//   2. otherwise every group entry whose group lists the user in the server's directory
//      database (names.nsf: documents of form "Group" with items ListName and Members;
//      nested groups count): the highest level wins, roles are united;
//   3. otherwise -Default-; with no -Default- entry, No Access.
//
// What each level may do (checked by the area that does it):
//   open the database             Depositor   (HTFAIL_ACCESS_DENIED below)
//   read documents                Reader
//   create documents              Author (and not HTACLFLAG_NO_CREATE_DOCS)
//   change others' documents      Editor (Authors only their own: engine/doc decides)
//   change design, db properties  Designer
//   change the ACL                Manager     (HTFAIL_NOT_MANAGER below)
// Refusals record a message naming the user, the database and the level needed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/Database.h"
#include "engine/store/AclStore.h"

namespace quire::engine::db {

struct Access {
  int32_t level = HTACLLEVEL_NO_ACCESS;
  uint32_t flags = 0;
  std::array<uint8_t, 10> roles{};
  bool enforced = false;  // false: the ACL does not apply to this handle
};

// Whether the ACL applies to this handle (named server, or uniform access on).
bool enforced(DbHandle& handle);

// The session user's access through `handle`.
Access effectiveAccess(DbHandle& handle);

// The ACL's answer for `user`, whatever the enforcement (for HTACLGetAccessLevel of other
// users and for tests). Takes the database lock itself.
Access aclAccess(Database& db, const std::filesystem::path& serverRoot, const std::string& user);
// The same answer from entries already read (callers inside a transaction on the ACL).
Access aclAccess(const std::vector<store::acl::Entry>& entries, const std::filesystem::path& serverRoot,
                 const std::string& user);

// 0 when the session user has at least `level` through `handle`; else HTFAIL_ACCESS_DENIED
// with "User X needs Y access to <what> in <db>; they have Z" recorded.
HTSTATUS requireAccess(DbHandle& handle, int32_t level, std::string_view what);
// The same with the access already found (callers that also need its flags).
HTSTATUS requireAccess(DbHandle& handle, const Access& access, int32_t level, std::string_view what);

// 0 for a Manager; else HTFAIL_NOT_MANAGER with the user named.
HTSTATUS requireManager(DbHandle& handle, std::string_view what);

// "No Access", "Depositor", ... "Manager".
const char* levelName(int32_t level);

// The comparable form of a user or group name (abbreviated, case-folded).
std::string nameKey(std::string_view name);

}  // namespace quire::engine::db
