#include "engine/core/Progress.h"

#include <algorithm>

namespace quire::engine::progress {

namespace {

struct Registration {
  HTQuireProgressProc callback = nullptr;
  void* context = nullptr;
};

thread_local Registration tRegistration;

constexpr std::chrono::milliseconds kInterval{100};

}  // namespace

void setCallback(HTQuireProgressProc callback, void* context) { tRegistration = {callback, context}; }

bool wanted() { return tRegistration.callback != nullptr; }

Task::Task(std::string phase, uint64_t total)
    : callback_(tRegistration.callback), context_(tRegistration.context), phase_(std::move(phase)), total_(total) {
  if (!callback_) return;
  next_ = std::chrono::steady_clock::now() + kInterval;
  report();
}

Task::~Task() {
  if (!callback_) return;
  // The end is always reported complete, even when the work stopped early or the total was
  // an estimate, so the caller can close its progress line.
  total_ = std::max(total_, done_);
  done_ = total_;
  report();
}

void Task::set(uint64_t done) {
  done_ = done;
  if (!callback_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  next_ = now + kInterval;
  report();
}

void Task::report() {
  // A callback that throws must not unwind through the engine's work.
  try {
    callback_(context_, phase_.c_str(), done_, total_);
  } catch (...) {
  }
}

}  // namespace quire::engine::progress
