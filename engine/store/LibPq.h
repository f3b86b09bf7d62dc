// The PostgreSQL client library, loaded when the first postgresql:// server is used rather
// than linked into the engine: a deployment that keeps every database in SQLite files neither
// needs libpq installed nor carries it (and the Kerberos, LDAP and TLS libraries it pulls
// in) in every process that loads the engine.
//
// libpq() loads the library once per process and keeps it loaded until exit (its
// connections may outlive any one Database). It throws Error with HTFAIL_NOT_IMPLEMENTED,
// naming the library and the loader's reason, when the library or one of its functions
// cannot be found; a later call tries again, so installing libpq needs no restart. After a
// successful load the table is immutable and may be read from any thread.
#pragma once

#include <libpq-fe.h>

namespace quire::engine::store {

// Every libpq function the backend calls, written once: the table's members and the
// look-up loop both come from this list.
#define QUIRE_LIBPQ_FUNCTIONS(X)                                                                              \
  X(PQclear) X(PQcmdTuples) X(PQconnectdbParams) X(PQerrorMessage) X(PQescapeIdentifier) X(PQescapeLiteral) \
  X(PQexec) X(PQexecPrepared) X(PQfinish) X(PQfreemem) X(PQftype) X(PQgetisnull) X(PQgetlength)              \
  X(PQgetResult) X(PQgetvalue) X(PQnfields) X(PQntuples) X(PQprepare) X(PQresultErrorField) X(PQresultErrorMessage) \
  X(PQresultStatus) X(PQsendQuery) X(PQsetNoticeProcessor) X(PQstatus) X(PQtransactionStatus)           \
  X(PQenterPipelineMode) X(PQexitPipelineMode) X(PQpipelineSync) X(PQsendQueryParams) X(PQsendQueryPrepared)

struct LibPq {
#define QUIRE_LIBPQ_MEMBER(name) decltype(&::name) name = nullptr;
  QUIRE_LIBPQ_FUNCTIONS(QUIRE_LIBPQ_MEMBER)
#undef QUIRE_LIBPQ_MEMBER
};

// The soname the engine asks the dynamic loader for.
inline constexpr const char* kLibPqName = "libpq.so.5";

// Loads `library` and resolves every function of the list; throws as described above.
// The handle is never closed.
LibPq loadLibPq(const char* library);

// The process's table, loaded from kLibPqName on first use.
const LibPq& libpq();

}  // namespace quire::engine::store
