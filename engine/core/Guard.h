// The C boundary's exception barrier. Every extern "C" entry point runs its body through
// `guard`, so no exception crosses into a C caller: an engine Error becomes its code (with
// its detail recorded for HTErrorGetInfo), bad_alloc becomes HTFAIL_NO_MEMORY, anything else
// HTFAIL_INTERNAL.
//
//   HT_EXPORT HTSTATUS HTSomething(HTDBHANDLE db, char* out) {
//     return guard([&] {
//       if (!out) return fail(HTFAIL_INVALID_ARGUMENT, "...");
//       ...
//       return HTSUCCESS;
//     });
//   }
//
// `guardValue` is the same for entry points that return a count or an identifier: on failure
// they return `fallback` (usually 0) and the code is recorded as the thread's last failure.
#pragma once

#include <new>

#include "engine/core/Export.h"
#include "engine/core/Status.h"

namespace quire::engine {

template <typename F>
HTSTATUS guard(F&& body) noexcept {
  try {
    return body();
  } catch (const Error& e) {
    return fail(e.code(), e.what());
  } catch (const std::bad_alloc&) {
    return fail(HTFAIL_NO_MEMORY, "Out of memory");
  } catch (const std::exception& e) {
    return fail(HTFAIL_INTERNAL, std::string("Internal engine error: ") + e.what());
  } catch (...) {
    return fail(HTFAIL_INTERNAL, "Internal engine error");
  }
}

template <typename R, typename F>
R guardValue(R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (const Error& e) {
    fail(e.code(), e.what());
  } catch (const std::bad_alloc&) {
    fail(HTFAIL_NO_MEMORY, "Out of memory");
  } catch (const std::exception& e) {
    fail(HTFAIL_INTERNAL, std::string("Internal engine error: ") + e.what());
  } catch (...) {
    fail(HTFAIL_INTERNAL, "Internal engine error");
  }
  return fallback;
}

// Fails with HTFAIL_INVALID_ARGUMENT naming the argument when `p` is null.
#define HT_REQUIRE_ARG(p)                                                                     \
  do {                                                                                        \
    if ((p) == nullptr) return ::quire::engine::fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: " #p); \
  } while (0)

}  // namespace quire::engine
