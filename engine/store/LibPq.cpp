#include "engine/store/LibPq.h"

#include <dlfcn.h>

#include <string>

#include "engine/core/Status.h"

namespace quire::engine::store {

LibPq loadLibPq(const char* library) {
  // RTLD_NODELETE: the engine itself may be unloaded and loaded again in one process; the
  // client library, once mapped, stays put either way.
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = dlerror();
    raise(HTFAIL_NOT_IMPLEMENTED, std::string("PostgreSQL servers need the client library ") + library +
                                      ", which cannot be loaded: " + (why ? why : "unknown reason"));
  }
  LibPq pq;
#define QUIRE_LIBPQ_RESOLVE(name)                                                                        \
  pq.name = reinterpret_cast<decltype(pq.name)>(dlsym(handle, #name));                                   \
  if (!pq.name)                                                                                           \
    raise(HTFAIL_NOT_IMPLEMENTED, std::string("The PostgreSQL client library ") + library + " lacks " #name \
                                      "; a newer libpq is needed");
  QUIRE_LIBPQ_FUNCTIONS(QUIRE_LIBPQ_RESOLVE)
#undef QUIRE_LIBPQ_RESOLVE
  return pq;
}

const LibPq& libpq() {
  // A throwing initialiser leaves the static unset, so the next call tries again.
  static const LibPq loaded = loadLibPq(kLibPqName);
  return loaded;
}

}  // namespace quire::engine::store
