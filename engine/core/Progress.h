// Progress of long work, reported to the callback the calling thread registered with
// HTQuireSetProgress (hitest.h). Work that may take long makes a Task and advances it; with
// no callback registered a Task costs a thread-local read per call and nothing else.
//
//   progress::Task task("full-text index", documentCount);
//   for (...) { ...; task.advance(); }
//
// Reports come at the start, at most about ten a second while the work runs, and once with
// done == total when the Task ends (also on failure, so a progress line is always finished).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "hitest/HTQuireExtensions.h"

namespace quire::engine::progress {

void setCallback(HTQuireProgressProc callback, void* context);
// Whether the calling thread has a callback: lets work skip counting a total nobody reads.
bool wanted();

class Task {
 public:
  Task(std::string phase, uint64_t total);
  ~Task();
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  void advance(uint64_t units = 1) { set(done_ + units); }
  void set(uint64_t done);
  // The total, when it is learnt only after the work began.
  void setTotal(uint64_t total) { total_ = total; }

 private:
  void report();

  HTQuireProgressProc callback_;
  void* context_;
  std::string phase_;
  uint64_t done_ = 0;
  uint64_t total_;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace quire::engine::progress
