#include "engine/core/Process.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace quire::engine {
namespace {

std::atomic<pid_t> gPid{0};

void refresh() noexcept { gPid.store(::getpid(), std::memory_order_relaxed); }

// Registered on first use, so a fork before that needs nothing: the first call asks getpid.
bool registerAtFork() noexcept {
  refresh();
  pthread_atfork(nullptr, nullptr, &refresh);
  return true;
}

}  // namespace

pid_t currentProcess() noexcept {
  static const bool registered = registerAtFork();
  (void)registered;
  return gPid.load(std::memory_order_relaxed);
}

}  // namespace quire::engine
