// Whole-database entry points (copy, compaction) and the engine's extensions for backup,
// restore and progress reports (hitest.h, "Engine extensions").
#include "engine/api/EntryPoints.h"
#include "engine/core/Engine.h"
#include "engine/core/Guard.h"
#include "engine/core/Progress.h"
#include "engine/core/Text.h"
#include "engine/db/Maintenance.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTQuireSetProgress(HTQuireProgressProc callback, void* context);
HT_EXPORT HTSTATUS HTQuireBackup(const char* server, const char* path, const char* file);
HT_EXPORT HTSTATUS HTQuireRestore(const char* file, const char* server, const char* path, HTUINT flags);

HT_EXPORT HTSTATUS HTDatabaseCopy(const char* fromServer, const char* fromPath, const char* toServer,
                                  const char* toPath, HTUINT flags) {
  return guard([&] {
    config();
    return db::copy(textArg(fromServer), textArg(fromPath), textArg(toServer), textArg(toPath), flags);
  });
}

HT_EXPORT HTSTATUS HTDatabaseCompact(const char* server, const char* path, HTUINT flags) {
  return guard([&] {
    config();
    if (flags != 0) return fail(HTFAIL_INVALID_ARGUMENT, "Unknown compaction flags " + std::to_string(flags));
    return db::compact(textArg(server), textArg(path));
  });
}

HT_EXPORT HTSTATUS HTQuireSetProgress(HTQuireProgressProc callback, void* context) {
  progress::setCallback(callback, context);
  return HTSUCCESS;
}

HT_EXPORT HTSTATUS HTQuireBackup(const char* server, const char* path, const char* file) {
  return guard([&] {
    config();
    return db::backup(textArg(server), textArg(path), std::string(textArg(file)));
  });
}

HT_EXPORT HTSTATUS HTQuireRestore(const char* file, const char* server, const char* path, HTUINT flags) {
  return guard([&] {
    config();
    if (flags & ~HTQUIRE_RESTORE_REPLACE) return fail(HTFAIL_INVALID_ARGUMENT, "Unknown restore flags " + std::to_string(flags));
    return db::restore(std::string(textArg(file)), textArg(server), textArg(path), flags);
  });
}
