// The access-control list operations behind the HTACL* entry points.
//
// Reading the ACL needs Reader access, changing it Manager access (HTFAIL_NOT_MANAGER), where
// the ACL is enforced (db/Access.h). Each change is one transaction. Entry names are unique
// without regard to case; an entry is found by name for update, lookup and delete.
// Deleting a role's name (setting it to "") also clears that role from every entry, so a role
// later created at the same number starts with no members. HTACLReset leaves the session
// user as Manager and -Default- as a new database has it, and no roles.
#pragma once

#include "engine/db/Database.h"

namespace quire::engine::db {

HTSTATUS aclList(DbHandle& h, HTINT listMode, HTACLENTRY& out);
HTSTATUS aclAdd(DbHandle& h, const HTACLENTRY& entry);
HTSTATUS aclDelete(DbHandle& h, std::string_view name);
HTSTATUS aclUpdate(DbHandle& h, const HTACLENTRY& entry, const HTACLENTRY& newEntry, HTUINT mask);
HTSTATUS aclLookup(DbHandle& h, std::string_view name, HTACLENTRY& out);
HTSTATUS aclGetRoleName(DbHandle& h, HTINT role, char* name);
HTSTATUS aclSetRoleName(DbHandle& h, HTINT role, std::string_view name);
HTSTATUS aclReset(DbHandle& h);
HTSTATUS aclAccessLevel(DbHandle& h, HTINT& level, HTUINT& flags);
HTSTATUS aclGetProperty(DbHandle& h, HTINT property, void* value);
HTSTATUS aclSetProperty(DbHandle& h, HTINT property, HTUINT value);

}  // namespace quire::engine::db
