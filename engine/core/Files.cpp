#include "engine/core/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "engine/core/Status.h"

namespace quire::engine::files {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

void writeAll(int fd, std::string_view data, const fs::path& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raiseErrno(errno, "Cannot write", path);
    data.remove_prefix(size_t(n));
  }
}

void syncDirectory(const fs::path& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

void raiseErrno(int err, std::string_view what, const fs::path& path) {
  raise(HTFAIL_IO_ERROR, std::string(what) + " " + path.string() + ": " + std::strerror(err));
}

std::optional<std::string> read(const fs::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    raiseErrno(errno, "Cannot open", path);
  }
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raiseErrno(errno, "Cannot read", path);
    if (n == 0) break;
    out.append(buf, size_t(n));
  }
  return out;
}

void writeAtomic(const fs::path& path, std::string_view content) {
  std::random_device rd;
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid()) + "." + std::to_string(rd());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) raiseErrno(errno, "Cannot create", tmp);
  try {
    writeAll(fd.get(), content, tmp);
    if (::fsync(fd.get()) != 0) raiseErrno(errno, "Cannot flush", tmp);
    if (::close(fd.release()) != 0) raiseErrno(errno, "Cannot close", tmp);
    if (::rename(tmp.c_str(), path.c_str()) != 0) raiseErrno(errno, "Cannot replace", path);
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  syncDirectory(path.parent_path());
}

bool writeExclusive(const fs::path& path, std::string_view content) {
  std::random_device rd;
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid()) + "." + std::to_string(rd());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) raiseErrno(errno, "Cannot create", tmp);
  bool placed = false;
  try {
    writeAll(fd.get(), content, tmp);
    if (::fsync(fd.get()) != 0) raiseErrno(errno, "Cannot flush", tmp);
    if (::close(fd.release()) != 0) raiseErrno(errno, "Cannot close", tmp);
    placed = ::link(tmp.c_str(), path.c_str()) == 0;
    if (!placed && errno != EEXIST) raiseErrno(errno, "Cannot create", path);
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  ::unlink(tmp.c_str());
  if (placed) syncDirectory(path.parent_path());
  return placed;
}

void ensureDirectory(const fs::path& dir) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return;
  fs::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) ensureDirectory(parent);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) raiseErrno(errno, "Cannot create directory", dir);
  if (!fs::is_directory(dir, ec)) raise(HTFAIL_IO_ERROR, "Not a directory: " + dir.string());
}

Stamp stamp(const fs::path& path) {
  struct stat st {};
  Stamp s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  return s;
}

FileLock::FileLock(const fs::path& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) raiseErrno(errno, "Cannot open lock file", path);
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd_);
    raiseErrno(err, "Cannot lock", path);
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

}  // namespace quire::engine::files
