// The engine's extension for security at a PostgreSQL server (HTQuireExtensions.h).
#include "engine/api/EntryPoints.h"
#include "hitest/HTQuireExtensions.h"
#include "engine/core/Engine.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/ServerSecurity.h"
#include "engine/db/Session.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTQuireServerSecurity(const char* server, HTUINT action, HTUINT capacity, char* report,
                                         HTUINT* needed);

HT_EXPORT HTSTATUS HTQuireServerSecurity(const char* server, HTUINT action, HTUINT capacity, char* report,
                                         HTUINT* needed) {
  return guard([&] {
    if (needed) *needed = 0;
    if (capacity > 0 && !report) return fail(HTFAIL_INVALID_ARGUMENT, "No report buffer given");
    if (capacity > 0) report[0] = '\0';
    if (action != HTQUIRE_SERVER_STATUS && action != HTQUIRE_SERVER_SETUP)
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown server security action " + std::to_string(action));
    config();
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    const std::string json = db::security::toJson(action == HTQUIRE_SERVER_SETUP ? db::security::setup(ref)
                                                                                   : db::security::status(ref));
    if (needed) *needed = HTUINT(json.size() + 1);
    if (json.size() >= capacity)
      return fail(HTFAIL_TEXT_TOO_LONG, "The report takes " + std::to_string(json.size() + 1) + " bytes");
    copyText(report, capacity, json);
    return HTSUCCESS;
  });
}
