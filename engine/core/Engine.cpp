#include "engine/core/Engine.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/core/Handles.h"
#include "engine/core/Status.h"

namespace quire::engine {
namespace {

std::mutex gMutex;
std::shared_ptr<Config> gConfig;

std::vector<std::function<void()>>& hooks() {
  // Never destroyed, for the same reason as the handle table: HTTerm may run at exit.
  static auto* h = new std::vector<std::function<void()>>;
  return *h;
}

}  // namespace

HTSTATUS start(HTUINT version) {
  if (version < kMinApiVersion || version > kMaxApiVersion) {
    char text[96];
    std::snprintf(text, sizeof text, "API version 0x%08X is not supported (0x%08X to 0x%08X are)", version,
                  kMinApiVersion, kMaxApiVersion);
    return fail(HTFAIL_BAD_VERSION, text);
  }
  std::lock_guard lock(gMutex);
  if (gConfig) return HTSUCCESS;
  gConfig = std::make_shared<Config>(Config::defaultDataDir());
  // A damaged quire.ini does not stop the engine (its lines are kept), but it is said.
  const std::vector<std::string> problems = gConfig->problems();
  if (!problems.empty())
    fail(HTFAIL_CONFIG_ERROR, problems.front() + (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) +
                                                                           " more)" : ""));
  return HTSUCCESS;
}

void stop() {
  HandleTable::instance().clear();
  std::vector<std::function<void()>> toRun;
  {
    std::lock_guard lock(gMutex);
    toRun = hooks();
  }
  for (auto& hook : toRun) hook();
  std::lock_guard lock(gMutex);
  gConfig.reset();
}

bool running() {
  std::lock_guard lock(gMutex);
  return gConfig != nullptr;
}

Config& config() {
  std::lock_guard lock(gMutex);
  if (!gConfig) raise(HTFAIL_NOT_INITIALIZED, "The API has not been initialised (call _HTInit first)");
  return *gConfig;
}

void onStop(std::function<void()> hook) {
  std::lock_guard lock(gMutex);
  hooks().push_back(std::move(hook));
}

}  // namespace quire::engine
