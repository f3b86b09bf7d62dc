// Fair hand-over of a database file's write lock between processes.
//
// SQLite lets a writer that finds the write lock taken poll for it. A process that commits
// and begins again at once -- a delayed-commit batch renewed every 200 ms, or a tight loop
// of saves -- nearly always wins that race against a poller, so other writers can wait for
// their whole busy timeout and fail. The gate is an open-file-description lock on one byte of
// a file beside the database (`<file>-gate`), held by a writer only while it waits for and
// takes the write lock:
//   - every writer passes the gate before BEGIN IMMEDIATE and leaves it as soon as it holds
//     the write lock, so while one writer waits, no other one (in particular not the one
//     that just committed) can take the lock before it;
//   - a connection holding the write lock across calls (an open batch) asks othersWaiting()
//     and commits, so a waiter gets in after at most the write in progress.
// The kernel drops the lock with its holder's last descriptor, so a killed process blocks
// nobody. Without a gate file (a directory we cannot write) writers fall back to polling.
//
// Threads: enter/leave by the connection's user; othersWaiting from any thread.
#pragma once

#include <chrono>
#include <filesystem>

namespace quire::engine::store {

// How long a writer waits at the gate, and any statement for another connection's lock,
// before failing (10 s). Process-wide; setting it is meant for tests.
std::chrono::milliseconds busyTimeout();
void setBusyTimeout(std::chrono::milliseconds timeout);

class WriterGate {
 public:
  // Opens (creating it with the database file's permissions) the gate of `database`.
  explicit WriterGate(const std::filesystem::path& database);
  ~WriterGate();
  WriterGate(const WriterGate&) = delete;
  WriterGate& operator=(const WriterGate&) = delete;

  static std::filesystem::path fileOf(const std::filesystem::path& database);

  // Waits until this connection holds the gate, at most `timeout`. False when it did not get
  // it (no gate file, or the timeout passed); the caller goes on without it.
  bool enter(std::chrono::milliseconds timeout);
  void leave();
  // Whether another connection is waiting at the gate, i.e. for the write lock.
  bool othersWaiting() const;

 private:
  int fd_ = -1;
};

}  // namespace quire::engine::store
