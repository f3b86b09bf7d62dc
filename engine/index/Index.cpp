#include "engine/index/Index.h"

#include <charconv>
#include <cstring>

#include "engine/core/Handles.h"
#include "engine/core/Status.h"
#include "engine/db/Session.h"
#include "engine/index/CollectionCursor.h"

namespace quire::engine::index {

std::string IndexEnv::describe() const {
  std::string name = apiPath;
  if (server.named) name += " on server " + server.name;
  return name;
}

HTSTATUS requireReader(const IndexEnv& env, std::string_view what) {
  if (!env.access.enforced || env.access.level >= HTACLLEVEL_READER) return HTSUCCESS;
  return fail(HTFAIL_ACCESS_DENIED, "User " + db::userName() + " needs Reader access to " + std::string(what) +
                                        " in " + env.describe() + " but has " + db::levelName(env.access.level));
}

std::shared_ptr<const IndexEnv> makeEnv(db::DbHandle& handle, HTDBHANDLE dbHandle) {
  auto env = std::make_shared<IndexEnv>();
  env->database = handle.database();
  env->dbHandle = dbHandle;
  env->server = handle.server();
  env->apiPath = handle.apiPath();
  env->access = db::effectiveAccess(handle);
  env->reader = ReadAccess::forHandle(handle, env->access);
  return env;
}

HTSTATUS IndexCursor::viewPosition(std::string& out) {
  out = std::to_string(position());
  return HTSUCCESS;
}

HTSTATUS IndexCursor::setViewPosition(std::string_view text) {
  uint32_t n = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || n > count())
    return fail(HTFAIL_BAD_POSITION, "'" + std::string(text) + "' is not a position of this index (1 to " +
                                         std::to_string(count()) + ")");
  return setPosition(n);
}

Index::Index(std::shared_ptr<const IndexEnv> env)
    : env_(std::move(env)), cursor_(std::make_unique<CollectionCursor>(env_)) {}

HTSTATUS Index::property(HTINT property, void* value) {
  auto put = [&](uint32_t v) {
    std::memcpy(value, &v, sizeof v);
    return HTSUCCESS;
  };
  switch (property) {
    case HTINDEX_IS_VIEW_BASED: return put(cursor_->isViewBased() ? 1 : 0);
    case HTINDEX_ACTIVE_VIEW: return put(cursor_->viewId());
    case HTINDEX_IS_FTSEARCH: return put(cursor_->ftActive() ? 1 : 0);
    case HTINDEX_FTSEARCH_SCORE: return put(cursor_->ftScore());
    case HTINDEX_DATABASE: return put(env_->dbHandle);
    default: {
      HTSTATUS s = cursor_->property(property, value);
      if (s == HTFAIL_UNKNOWN_PROPERTY) return fail(s, "Index property " + std::to_string(property) + " is not known");
      return s;
    }
  }
}

HTSTATUS lookup(HTINDEXHANDLE handle, std::shared_ptr<Index>& out) {
  out = HandleTable::instance().get<Index>(HandleKind::Index, handle);
  if (!out) return fail(HTFAIL_INVALID_HANDLE, "Index handle " + std::to_string(handle) + " is not open");
  return HTSUCCESS;
}

HTSTATUS open(HTDBHANDLE dbHandle, HTINDEXHANDLE& out) {
  std::shared_ptr<db::DbHandle> h;
  if (HTSTATUS s = db::lookup(dbHandle, h)) return s;
  auto index = std::make_shared<Index>(makeEnv(*h, dbHandle));
  out = HandleTable::instance().add(HandleKind::Index, index);
  return HTSUCCESS;
}

HTSTATUS close(HTINDEXHANDLE handle) {
  auto removed = HandleTable::instance().remove(HandleKind::Index, handle);
  if (!removed) return fail(HTFAIL_INVALID_HANDLE, "Index handle " + std::to_string(handle) + " is not open");
  return HTSUCCESS;
}

}  // namespace quire::engine::index
