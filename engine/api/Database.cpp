// Database entry points: create, delete, open, close, properties, listing, locating.
#include <cstring>

#include "engine/core/Engine.h"
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/ThreadState.h"
#include "engine/core/ListCursor.h"
#include "engine/core/Text.h"
#include "engine/db/Catalog.h"
#include "engine/db/Database.h"
#include "engine/db/DbProperties.h"

using namespace quire::engine;

HT_EXPORT HTSTATUS HTDatabaseCreate(const char* server, const char* path, const char* title,
                                    const char* templatePath, HTINT dbClass) {
  return guard([&] {
    config();
    db::CreateOptions options;
    options.title = textArg(title);
    options.templatePath = textArg(templatePath);
    options.dbClass = dbClass == HTDBCLASS_DERIVE ? HTDBCLASS_DATABASE : dbClass;
    if (dbClass < HTDBCLASS_DERIVE || dbClass > HTDBCLASS_OBJ_STORE)
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown database class " + std::to_string(dbClass));
    return db::create(textArg(server), textArg(path), options);
  });
}

HT_EXPORT HTSTATUS HTDatabaseDelete(const char* server, const char* path) {
  return guard([&] {
    config();
    return db::remove(textArg(server), textArg(path));
  });
}

HT_EXPORT HTSTATUS HTDatabaseOpen(const char* server, const char* path, HTUINT flags, HTDBHANDLE* handle) {
  return guard([&] {
    HT_REQUIRE_ARG(handle);
    *handle = 0;
    config();
    return db::open(textArg(server), textArg(path), flags, *handle);
  });
}

HT_EXPORT HTSTATUS HTDatabaseReopen(HTDBHANDLE handle, HTUINT flags, HTDBHANDLE* newHandle) {
  return guard([&] {
    HT_REQUIRE_ARG(newHandle);
    *newHandle = 0;
    return db::reopen(handle, flags, *newHandle);
  });
}

HT_EXPORT HTSTATUS HTDatabaseClose(HTDBHANDLE handle, HTUINT flags) {
  return guard([&] { return db::close(handle); });
}

HT_EXPORT HTSTATUS HTDatabaseGetProperty(HTDBHANDLE handle, HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return db::getProperty(*h, property, value);
  });
}

HT_EXPORT HTSTATUS HTDatabaseSetProperty(HTDBHANDLE handle, HTINT property, const void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    if (HTSTATUS s = db::setProperty(*h, property, value)) return s;
    // Turning delayed commit off makes what was delayed durable now, not at some later write.
    if (property == HTDATABASE_DELAY_COMMIT && h->settings.delayCommit == 0) {
      auto& database = *h->database();
      auto lock = database.lock();
      database.flush();
    }
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatabaseList(const char* server, const char* directory, HTINT listClass, HTUINT options,
                                  HTINT listMode, HTUINT* isDatabase, char* title, char* file) {
  return guard([&] {
    HT_REQUIRE_ARG(isDatabase);
    HT_REQUIRE_ARG(title);
    HT_REQUIRE_ARG(file);
    config();
    // One listing per thread; FIRST starts it with this call's server and directory.
    ListCursor<db::CatalogEntry>* cursor = threadState<ListCursor<db::CatalogEntry>>();
    if (!cursor) return fail(HTFAIL_NOT_INITIALIZED, "The thread is ending; lists are no longer kept");
    HTSTATUS loadStatus = HTSUCCESS;
    auto load = [&] {
      std::vector<db::CatalogEntry> entries;
      db::ServerRef ref;
      loadStatus = db::resolveServer(textArg(server), ref);
      if (!loadStatus) loadStatus = db::listDirectory(ref, textArg(directory), listClass, entries);
      return entries;
    };
    db::CatalogEntry entry;
    HTSTATUS s = cursor->step(listMode, load, entry);
    if (loadStatus) {
      cursor->clear();
      return loadStatus;
    }
    if (s) return s;
    *isDatabase = entry.isDatabase ? 1 : 0;
    copyText(title, HT_TITLE_CAPACITY, entry.title);
    copyText(file, HT_PATH_CAPACITY, entry.file);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTDatabaseLocateByTitle(const char* server, const char* title, char* path) {
  return guard([&] {
    HT_REQUIRE_ARG(path);
    path[0] = '\0';
    config();
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    const std::string wanted = foldCase(trim(textArg(title)));
    for (const auto& e : db::allDatabases(ref)) {
      if (foldCase(trim(e.title)) != wanted) continue;
      copyText(path, HT_PATH_CAPACITY, e.apiPath);
      return HTSUCCESS;
    }
    return fail(HTFAIL_DB_NOT_FOUND, "No database titled \"" + std::string(textArg(title)) + "\"");
  });
}

HT_EXPORT HTSTATUS HTDatabaseLocateByReplicaid(const char* server, const HTREPLICAID* replicaId, char* path) {
  return guard([&] {
    HT_REQUIRE_ARG(replicaId);
    HT_REQUIRE_ARG(path);
    path[0] = '\0';
    config();
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    for (const auto& e : db::allDatabases(ref)) {
      if (e.replicaId.words[0] != replicaId->words[0] || e.replicaId.words[1] != replicaId->words[1]) continue;
      copyText(path, HT_PATH_CAPACITY, e.apiPath);
      return HTSUCCESS;
    }
    return fail(HTFAIL_DB_NOT_FOUND, "No database with that replica ID");
  });
}

HT_EXPORT HTSTATUS HTDatabaseGetNotesHandle(HTDBHANDLE handle, HTUINT flags, HTUINT* notesHandle) {
  return guard([&] {
    HT_REQUIRE_ARG(notesHandle);
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    *notesHandle = h->database()->serial();
    return HTSUCCESS;
  });
}
