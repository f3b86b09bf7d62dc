// Agent entry points (engine/index/Agents.h) and the engine's formula evaluation helper.
// HTAgentList and HTAgentLocateByName are the generic design calls of Design.cpp.
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Design.h"
#include "engine/index/Agents.h"
#include "engine/index/Evaluate.h"
#include "engine/store/NoteStore.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTAgentCreate(HTDBHANDLE db, const HTAGENTSPEC* spec, HTID* agent) {
  return guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(spec);
    HT_REQUIRE_ARG(agent);
    *agent = 0;
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    return index::agents::create(*h, *spec, *agent);
  });
}

HT_EXPORT HTSTATUS HTAgentFetch(HTDBHANDLE db, HTID agent, HTLISTREC* record) {
  return guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(record);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    return index::agents::fetch(*h, agent, *record);
  });
}

HT_EXPORT HTSTATUS HTAgentCopy(HTDBHANDLE fromDb, HTID agent, HTDBHANDLE toDb, const char* newName, HTID* newAgent) {
  return guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(newAgent);
    *newAgent = 0;
    std::shared_ptr<db::DbHandle> from, to;
    if (HTSTATUS s = db::lookup(fromDb, from)) return s;
    if (HTSTATUS s = db::lookup(toDb, to)) return s;
    return index::agents::copy(*from, agent, *to, textArg(newName), *newAgent);
  });
}

HT_EXPORT HTSTATUS HTAgentDelete(HTDBHANDLE db, HTID agent) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    return db::designDelete(*h, store::note_class::kAgent, agent);
  });
}

HT_EXPORT HTSTATUS HTAgentExecute(HTDBHANDLE db, HTID agent, HTUINT flags, HTUINT* processed, HTUINT* changed) {
  return guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(processed);
    HT_REQUIRE_ARG(changed);
    *processed = 0;
    *changed = 0;
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    index::agents::RunCounts counts;
    if (HTSTATUS s = index::agents::execute(*h, agent, flags, counts)) return s;
    *processed = counts.processed;
    *changed = counts.changed;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTQuireEvaluate(HTDBHANDLE db, HTID note, const char* formula, HTUINT capacity, char* result) {
  return guard([&]() -> HTSTATUS {
    HT_REQUIRE_ARG(result);
    if (capacity == 0) return fail(HTFAIL_INVALID_ARGUMENT, "The result buffer has no room");
    result[0] = '\0';
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    std::string text;
    if (HTSTATUS s = index::evaluate(*h, note, textArg(formula), text)) return s;
    copyText(result, capacity, text);
    return HTSUCCESS;
  });
}
