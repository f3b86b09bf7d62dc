#include "engine/db/DbProperties.h"

#include <cstring>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::db {
namespace {

namespace prop = store::prop;

void writeU32(void* value, uint32_t v) { std::memcpy(value, &v, sizeof v); }
uint32_t readU32(const void* value) {
  uint32_t v;
  std::memcpy(&v, value, sizeof v);
  return v;
}
uint32_t readFlag(const void* value) { return *static_cast<const uint8_t*>(value) != 0 ? 1 : 0; }

uint32_t capU32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v); }

void writeDate(void* value, store::Connection& conn, const char* name) {
  HTDATETIME dt = dt::unpack(prop::getInt(conn, name, 0));
  if (prop::getInt(conn, name, 0) == 0) dt = HTDATETIME{dt::kNoTime, dt::kNoDate};
  std::memcpy(value, &dt, sizeof dt);
}

void writeIdPair(void* value, store::Connection& conn, const char* name) {
  HTREPLICAID id{};
  store::Blob b = prop::getBlob(conn, name).value_or(store::Blob{});
  if (b.size() == 8) {
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < 4; ++k) id.words[i] |= uint32_t(b[size_t(i * 4 + k)]) << (8 * k);
  }
  std::memcpy(value, &id, sizeof id);
}

// Properties stored as text, with the capacity of their buffers.
const char* textProperty(HTINT property) {
  switch (property) {
    case HTDATABASE_TITLE: return prop::kTitle;
    case HTDATABASE_CATEGORIES: return prop::kCategories;
    case HTDATABASE_TEMPLATE_NAME: return prop::kTemplateName;
    case HTDATABASE_DESIGN_TEMPLATE: return prop::kDesignTemplate;
    default: return nullptr;
  }
}

// Properties stored as 32-bit numbers.
const char* numberProperty(HTINT property) {
  switch (property) {
    case HTDATABASE_DOCOPEN_DESIGN: return prop::kDocOpenDesign;
    case HTDATABASE_DATABASE_FLAGS: return prop::kDatabaseFlags;
    case HTDATABASE_DBREPL_FLAGS: return prop::kReplFlags;
    case HTDATABASE_REPLICA_PRIORITY: return prop::kReplicaPriority;
    case HTDATABASE_CLASS: return prop::kClass;
    case HTDATABASE_IS_FTINDEXED: return prop::kFtIndexed;
    default: return nullptr;
  }
}

uint32_t* handleSetting(DbHandle& h, HTINT property) {
  switch (property) {
    case HTDATABASE_SUMMARY_LIMIT: return &h.settings.summaryLimit;
    case HTDATABASE_DELAY_COMMIT: return &h.settings.delayCommit;
    case HTDATABASE_STRICT_BIND: return &h.settings.strictBind;
    case HTDATABASE_FETCH_DESIGN_FORMULA: return &h.settings.fetchDesignFormula;
    case HTDATABASE_VIEW_CACHE_ROWS: return &h.settings.viewCacheRows;
    default: return nullptr;
  }
}

bool isBooleanSetting(HTINT property) {
  return property == HTDATABASE_DELAY_COMMIT || property == HTDATABASE_STRICT_BIND ||
         property == HTDATABASE_FETCH_DESIGN_FORMULA || property == HTDATABASE_DOCOPEN_DESIGN;
}

HTSTATUS unknown(HTINT property) {
  return fail(HTFAIL_UNKNOWN_PROPERTY, "Database property " + std::to_string(property) + " is unknown or read-only");
}

HTSTATUS getStored(DbHandle& h, HTINT property, void* value) {
  Database& db = *h.database();
  auto lock = db.lock();
  store::Connection& conn = db.conn();
  if (const char* name = textProperty(property)) {
    copyText(static_cast<char*>(value), HT_TITLE_CAPACITY, prop::getText(conn, name).value_or(""));
    return HTSUCCESS;
  }
  if (const char* name = numberProperty(property)) {
    writeU32(value, uint32_t(prop::getInt(conn, name, 0)));
    return HTSUCCESS;
  }
  switch (property) {
    case HTDATABASE_REPLICAID: writeIdPair(value, conn, prop::kReplicaId); return HTSUCCESS;
    case HTDATABASE_DBID: writeIdPair(value, conn, prop::kDbId); return HTSUCCESS;
    case HTDATABASE_CREATED: writeDate(value, conn, prop::kCreated); return HTSUCCESS;
    case HTDATABASE_DATA_LAST_MODIFIED: writeDate(value, conn, prop::kDataModified); return HTSUCCESS;
    case HTDATABASE_DESIGN_LAST_MODIFIED: writeDate(value, conn, prop::kDesignModified); return HTSUCCESS;
    case HTDATABASE_FTINDEX_LAST: writeDate(value, conn, prop::kFtLastIndexed); return HTSUCCESS;
    case HTDATABASE_REPLICA_CUTOFF: writeDate(value, conn, prop::kReplicaCutoff); return HTSUCCESS;
    case HTDATABASE_SPACE_USED: writeU32(value, capU32(conn.spaceUsed())); return HTSUCCESS;
    case HTDATABASE_SPACE_FREE: writeU32(value, capU32(conn.spaceFree())); return HTSUCCESS;
    default: return unknown(property);
  }
}

HTSTATUS validateNumber(HTINT property, uint32_t v) {
  if (property == HTDATABASE_REPLICA_PRIORITY && v > HTREPLPRIORITY_HIGH)
    return fail(HTFAIL_INVALID_ARGUMENT, "Replication priority must be 0, 1 or 2");
  if (property == HTDATABASE_CLASS && v > HTDBCLASS_OBJ_STORE)
    return fail(HTFAIL_INVALID_ARGUMENT, "Unknown database class " + std::to_string(v));
  return HTSUCCESS;
}

HTSTATUS setStored(DbHandle& h, HTINT property, const void* value) {
  const char* text = textProperty(property);
  const char* number = numberProperty(property);
  // The full-text state belongs to the indexer; the library reads it only.
  if (property == HTDATABASE_IS_FTINDEXED) number = nullptr;
  if (!text && !number && property != HTDATABASE_REPLICA_CUTOFF) return unknown(property);
  if (HTSTATUS s = requireAccess(h, HTACLLEVEL_DESIGNER, "change the database's properties")) return s;
  Database& db = *h.database();
  auto lock = db.lock();
  store::Transaction tx(db.conn());
  if (text) {
    std::string_view t(static_cast<const char*>(value));
    if (!fits(t, HT_TITLE_CAPACITY)) return fail(HTFAIL_TEXT_TOO_LONG, "The text may have at most 127 bytes");
    prop::set(db.conn(), text, t);
  } else if (number) {
    uint32_t v = isBooleanSetting(property) ? readFlag(value) : readU32(value);
    if (HTSTATUS s = validateNumber(property, v)) return s;
    prop::set(db.conn(), number, int64_t(v));
  } else {
    HTDATETIME d;
    std::memcpy(&d, value, sizeof d);
    prop::set(db.conn(), prop::kReplicaCutoff, dt::pack(d));
  }
  tx.commit();
  return HTSUCCESS;
}

}  // namespace

HTSTATUS getProperty(DbHandle& h, HTINT property, void* value) {
  if (uint32_t* setting = handleSetting(h, property)) {
    writeU32(value, *setting);
    return HTSUCCESS;
  }
  switch (property) {
    case HTDATABASE_SERVER_NAME:
      copyText(static_cast<char*>(value), HT_SERVER_NAME_CAPACITY, h.server().name);
      return HTSUCCESS;
    case HTDATABASE_FILEPATH:
      copyText(static_cast<char*>(value), HT_PATH_CAPACITY, h.apiPath());
      return HTSUCCESS;
    default:
      return getStored(h, property, value);
  }
}

HTSTATUS setProperty(DbHandle& h, HTINT property, const void* value) {
  if (uint32_t* setting = handleSetting(h, property)) {
    *setting = isBooleanSetting(property) ? readFlag(value) : readU32(value);
    return HTSUCCESS;
  }
  return setStored(h, property, value);
}

}  // namespace quire::engine::db
