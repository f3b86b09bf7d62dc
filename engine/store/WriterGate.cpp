#include "engine/store/WriterGate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace quire::engine::store {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> gBusyTimeoutMs{10'000};

struct flock gateByte(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  lock.l_pid = 0;  // required for open-file-description locks
  return lock;
}

}  // namespace

std::chrono::milliseconds busyTimeout() { return std::chrono::milliseconds(gBusyTimeoutMs.load()); }
void setBusyTimeout(std::chrono::milliseconds timeout) { gBusyTimeoutMs = timeout.count(); }

std::filesystem::path WriterGate::fileOf(const std::filesystem::path& database) {
  std::filesystem::path gate = database;
  gate += "-gate";
  return gate;
}

WriterGate::WriterGate(const std::filesystem::path& database) {
  struct stat st {};
  const mode_t mode = ::stat(database.c_str(), &st) == 0 ? (st.st_mode & 0666) : 0600;
  fd_ = ::open(fileOf(database).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
}

WriterGate::~WriterGate() {
  if (fd_ >= 0) ::close(fd_);
}

bool WriterGate::enter(std::chrono::milliseconds timeout) {
  if (fd_ < 0) return false;
  const auto deadline = Clock::now() + timeout;
  // Polled rather than blocking: a blocking wait has no timeout, and two databases locked
  // in opposite orders by two processes must end in a busy error, not hang.
  for (int attempt = 0;; ++attempt) {
    struct flock lock = gateByte(F_WRLCK);
    if (::fcntl(fd_, F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(attempt < 4 ? 250 * (attempt + 1) : 1000));
  }
}

void WriterGate::leave() {
  if (fd_ < 0) return;
  struct flock lock = gateByte(F_UNLCK);
  ::fcntl(fd_, F_OFD_SETLK, &lock);
}

bool WriterGate::othersWaiting() const {
  if (fd_ < 0) return false;
  struct flock lock = gateByte(F_WRLCK);
  if (::fcntl(fd_, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace quire::engine::store
