// HTServerReplicate: replication between the local data directory and a named server
// (engine/repl/Replicator.h has the rules).
//
//   server      a configured server; an unknown one gives HTFAIL_SERVER_NOT_FOUND, one whose
//               directory is the local data directory HTFAIL_BAD_SERVER
//   flags       0x4 or 0x400: every local database that has a replica on the server (the
//               list is not read); 0x1 pull only, 0x2 push only (both: HTFAIL_INVALID_ARGUMENT);
//               other bits are ignored
//   extra       not used
//   count, databases   `count` zero-terminated API paths one after another; empty ones are
//               skipped. Without 0x4/0x400 a count of 0 gives HTFAIL_NO_DATABASE_LIST.
//   statistics  filled in every case (zeroed first); its last field holds the status
// The result: 0 when every database replicated without a refused or failed note; otherwise
// the statistics tell what was done and the status field holds the first failure's code:
// HTFAIL_REPL_FAILED is returned for failures of single databases or notes (the others
// still replicated), the failure itself for a call that could not start.
#include <cstring>

#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/Session.h"
#include "engine/repl/Replicator.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTServerReplicate(const char* server, HTUINT flags, HTUINT extra, HTUINT count, const char* databases,
                                     HTREPLSTATS* statistics) {
  HTSTATUS status = guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(statistics);
    std::memset(statistics, 0, sizeof *statistics);
    const bool all = flags & (repl::kAllDatabases | repl::kAllDatabasesToo);
    if ((flags & repl::kPullOnly) && (flags & repl::kPushOnly))
      return fail(HTFAIL_INVALID_ARGUMENT, "Replication flags 0x1 (pull only) and 0x2 (push only) exclude each other");
    std::vector<std::string> paths;
    if (!all) {
      if (count == 0) return fail(HTFAIL_NO_DATABASE_LIST, "No database list given and no flag for every database");
      HT_REQUIRE_ARG(databases);
      const char* p = databases;
      for (HTUINT i = 0; i < count; ++i) {
        paths.emplace_back(p);
        p += paths.back().size() + 1;
      }
    }
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    db::ServerRef localRef;
    if (HTSTATUS s = db::resolveServer("", localRef)) return s;
    if (!ref.named || ref.root == localRef.root)
      return fail(HTFAIL_BAD_SERVER, "Server '" + std::string(textArg(server)) +
                                         "' is the local data directory; replication needs another server");

    repl::Options options;
    options.pull = !(flags & repl::kPushOnly);
    options.push = !(flags & repl::kPullOnly);
    repl::Outcome outcome;
    repl::replicate(ref, options, all, paths, outcome);
    const HTSTATUS first = outcome.firstStatus;
    *statistics = outcome.stats;
    if (first == HTSUCCESS) return HTSUCCESS;
    statistics->status = first;
    // The detail goes with the code the caller reads from the statistics.
    fail(first, outcome.firstError);
    return HTSTATUS(HTFAIL_REPL_FAILED);
  });
  if (status != HTSUCCESS && statistics && statistics->status == HTSUCCESS) statistics->status = status;
  return status;
}
