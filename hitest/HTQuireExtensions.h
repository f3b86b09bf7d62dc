/* HTQuireExtensions.h: the engine's further documented extensions to the C API contract of
 * hitest.h (which holds the first two, HTQuireEvaluate and HTQuireSignNote). Like those, the
 * functions are exported by the engine beside the entry-point table and found by name
 * (dlsym); an engine without them simply lacks the symbols. The conventions of hitest.h hold.
 */
#ifndef HITEST_HTQUIREEXTENSIONS_H
#define HITEST_HTQUIREEXTENSIONS_H

#include "hitest/hitest.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Progress of long work: view index builds, full-text indexing, replication, database copy,
 * compaction, backup and restore. Registers `callback` for the calling thread (a null one
 * removes it); the engine then calls it on that thread, from inside the call doing the work,
 * with `context` as given, a `phase` naming the work ("view index By Customer",
 * "full-text index", "backup", ...), the units `done` so far and their `total` (0 when the
 * total is not known in advance). It is called when a piece of work starts, at most about
 * ten times a second while it runs, and once with done == total when it ends. The callback
 * must not call the engine. Always returns 0. */
typedef void (*HTQuireProgressProc)(void *context, const char *phase, uint64_t done, uint64_t total);
typedef HTSTATUS (*HT_HTQuireSetProgress_fn)(HTQuireProgressProc callback, void *context);

/* Writes a consistent copy of database `path` on `server` to the new file `file` (a path of
 * the file system, outside any data directory if wished) while other handles and processes
 * go on reading and writing it: the copy is one snapshot, taken page by page. Needs Manager
 * access where the ACL is enforced. HTFAIL_DB_EXISTS when `file` exists; nothing is left
 * behind on failure. */
typedef HTSTATUS (*HT_HTQuireBackup_fn)(const char *server, const char *path, const char *file);

/* Puts the backup `file` in place as database `path` on `server`. A database already there is
 * replaced only with HTQUIRE_RESTORE_REPLACE (HTFAIL_DB_EXISTS otherwise), in one write
 * transaction, so other processes see either the old or the restored content; it needs
 * Manager access where the ACL is enforced, and HTFAIL_DB_IN_USE while this process has it
 * open. HTFAIL_NOT_A_DATABASE when `file` is not a database of this engine. */
typedef HTSTATUS (*HT_HTQuireRestore_fn)(const char *file, const char *server, const char *path, HTUINT flags);
#define HTQUIRE_RESTORE_REPLACE 0x0001u

/* Security at a server kept in PostgreSQL (the server's people as roles of their own, each
 * database's ACL as grants, Readers items as row-level security). HTQUIRE_SERVER_STATUS reads
 * what is set up; HTQUIRE_SERVER_SETUP sets the server up first (roles for the people of its
 * names.nsf, grants for every database), which needs a login role that may create roles and
 * owns the databases' schemas (a superuser, typically). Either way `report` receives the
 * state as one JSON object, zero-terminated, and `*needed` (when not null) the bytes it
 * takes with its terminator; a `capacity` below that gives HTFAIL_TEXT_TOO_LONG with an empty
 * `report`, after the work was done (setup may run again: it changes nothing the second
 * time). HTFAIL_INVALID_ARGUMENT for a server whose databases are files. */
typedef HTSTATUS (*HT_HTQuireServerSecurity_fn)(const char *server, HTUINT action, HTUINT capacity, char *report,
                                                 HTUINT *needed);
#define HTQUIRE_SERVER_STATUS 0u
#define HTQUIRE_SERVER_SETUP  1u

/* HTDatabaseCopy flags (the engine's): without HTDBCOPY_REPLICA the copy is a new database
 * with its own replica ID and no replication history; with it, a replica of the source.
 * Either way the copy holds the source's documents, design, ACL and attachments as of one
 * snapshot; the target must not exist (HTFAIL_DB_EXISTS). HTDatabaseCompact (flags 0) rewrites
 * the file without its free space. Both need Manager access where the ACL is enforced. */
#define HTDBCOPY_REPLICA 0x0001u

/* HTDocumentSetProperty(HTDOCUMENT_UNID) sets the UNID of a new, not yet saved document (so
 * an exported document imported again keeps its identity); HTFAIL_INVALID_ARGUMENT when a
 * note of the database has that UNID, HTFAIL_UNKNOWN_PROPERTY once the document is saved. */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* HITEST_HTQUIREEXTENSIONS_H */
