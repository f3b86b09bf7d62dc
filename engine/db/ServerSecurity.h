// Security at a PostgreSQL server: the second wall behind the engine's own ACL checks, so a
// client that bypasses the engine (psql with the user's own credentials) can do no more than
// the database's ACL allows.
//
// People. Every person of the server's directory database (names.nsf, Person documents, the
// first FullName entry) is a PostgreSQL role of their own, named by roleName(): the name's
// comparable form (db::nameKey: "CN=Ann Lee/O=Sales" -> "ann lee/sales"). The engine logs in
// as the session user's role (store::setDefaultRole) unless the server entry or libpq's
// environment names another; passwords come the usual libpq ways (PGPASSWORD, ~/.pgpass, a
// service file, or no password where the server trusts peer or certificate logins) and are
// never written by the engine. setup() creates the roles (LOGIN, no password, members of the
// group role "quire_people") and records them in quire.people.
//
// Levels become grants. Each Notes database keeps, in its schema, acl_grants: one row per
// person with the level, flags and names (the person's name key, their groups' keys and
// "[role]" keys) the ACL gives them, computed by the engine's own access rules. The
// function quire.apply_acl(schema) (owned by whoever ran setup) turns those rows into
// GRANTs on the schema's tables and sequences: nothing for No Access; INSERT on notes for a
// Depositor; SELECT on everything for a Reader; writes on notes, attachments and the
// engine's index tables from Author up; the ACL tables for a Manager. Every ACL change made
// through the engine rewrites acl_grants and applies them in the same transaction.
//
// Readers and Authors items become row-level security. notes.readers holds the name keys of
// a note's Readers and Authors items (NULL when it has no Readers item), notes.authors those
// of its Authors items; both are written with the items (store::NoteAccessNames). Policies
// let a role see a note only when readers is NULL or shares a name with its acl_grants
// names, change a document only as an Editor or as an Author it names, change design notes
// only as a Designer, and delete only with the delete right. Attachments follow their note.
//
// What remains outside: a superuser and the owner of a schema (the role that created the
// database) bypass row-level security and grants, as PostgreSQL has it. The index tables
// (view entries, full text) hold column values and are readable by every Reader of the
// database, whatever the Readers items of the documents they come from.
//
// Threads and failures: as for the rest of db/. setup() and status() open connections of
// their own and throw Error (HTFAIL_INVALID_ARGUMENT for a server not kept in PostgreSQL,
// HTFAIL_ACCESS_DENIED when the login role may not create roles or grant).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/Session.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Storage.h"

namespace quire::engine::db::security {

// The PostgreSQL role of a Notes user name. Names whose key would not fit PostgreSQL's 63
// bytes keep a prefix and a hash of the whole; keys beginning "pg_" (reserved by PostgreSQL)
// get a leading "~". Empty for an empty name.
std::string roleName(std::string_view notesName);

// The comparable form of a name listed in a Readers or Authors item: "[role]" for a role,
// else db::nameKey.
std::string readerKey(std::string_view name);

// What notes.readers and notes.authors hold for a note with these items.
store::NoteAccessNames accessNames(const std::vector<store::StoredItem>& items);

// Rewrites acl_grants from the database's ACL and applies it. Runs on the locked connection
// inside the transaction that changed the ACL; does nothing on SQLite or on a server that
// was never set up.
void syncGrants(store::Connection& conn, const std::filesystem::path& serverRoot);

// Grants the people of the database what they hold on its index tables on `table`, an index
// table the connection's role has just made (and so owns) after the ACL was last applied, so
// that Readers can search it and writers keep it up at once rather than at the next ACL
// change. Runs on the locked connection, inside the transaction that made the table; does
// nothing on SQLite or on a server that was never set up.
void grantIndexTable(store::Connection& conn, const std::string& table);

struct PersonState {
  std::string notesName;
  std::string role;
  bool exists = false;
  bool login = false;
};

struct GrantState {
  std::string role;
  int level = 0;
  std::string privileges;  // what PostgreSQL grants the role on the notes table
};

struct DatabaseState {
  std::string path;
  std::string schema;
  bool rowSecurity = false;
  std::vector<GrantState> grants;
  std::string error;  // why its state could not be read or set
};

struct ServerState {
  std::string server;
  std::string connectedAs;
  bool superuser = false;
  bool setUp = false;
  std::vector<PersonState> people;
  std::vector<DatabaseState> databases;
  std::vector<std::string> notes;  // what setup skipped or could not do, one line each
};

// Creates what the server needs (quire.people, the role quire_people, quire.apply_acl), a
// role for each person of its names.nsf, brings every database's schema up to date and
// applies its ACL. Safe to run again: it adds new people, revokes what people no longer in
// names.nsf were granted (their roles stay, with whatever passwords they have), and re-applies.
ServerState setup(const ServerRef& server);
ServerState status(const ServerRef& server);

std::string toJson(const ServerState& state);

}  // namespace quire::engine::db::security
