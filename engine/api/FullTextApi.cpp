// Full-text index entry points of the database (engine/index/FullText.h).
#include "engine/core/Guard.h"
#include "engine/db/Access.h"
#include "engine/index/FullText.h"

using namespace quire::engine;

// The options word (index attachments, stop words, ...) is accepted and not interpreted: the
// index always holds every text item and text attachment.
HT_EXPORT HTSTATUS HTDatabaseCreateFTIndex(HTDBHANDLE db, HTUINT options, HTBOOL rebuild, HTFTSTATS* statistics) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    if (HTSTATUS s = db::requireAccess(*h, HTACLLEVEL_DESIGNER, "create the full-text index")) return s;
    (void)options;
    return index::fulltext::create(*h->database(), rebuild != 0, statistics);
  });
}

HT_EXPORT HTSTATUS HTDatabaseDeleteFTIndex(HTDBHANDLE db) {
  return guard([&]() -> HTSTATUS {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    if (HTSTATUS s = db::requireAccess(*h, HTACLLEVEL_DESIGNER, "delete the full-text index")) return s;
    return index::fulltext::drop(*h->database());
  });
}
