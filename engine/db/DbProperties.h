// HTDatabaseGetProperty / HTDatabaseSetProperty: every HTDATABASE_* property and its value
// form. Texts are written into buffers of HT_TITLE_CAPACITY (title, categories, template
// names), HT_SERVER_NAME_CAPACITY (server name) or HT_PATH_CAPACITY (file path); numbers and
// flags are 32-bit; REPLICAID and DBID are HTREPLICAID; times are HTDATETIME.
// Stored properties need Designer access to change where the ACL is enforced; the
// per-handle ones (summary limit, delay commit, strict bind, fetch design formula, view
// cache rows) need none.
#pragma once

#include "engine/db/Database.h"

namespace quire::engine::db {

HTSTATUS getProperty(DbHandle& handle, HTINT property, void* value);
HTSTATUS setProperty(DbHandle& handle, HTINT property, const void* value);

}  // namespace quire::engine::db
