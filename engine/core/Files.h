// The engine's file operations, in one place so that every errno becomes a result code the
// same way (HTFAIL_IO_ERROR with a message naming the file and the reason).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quire::engine::files {

namespace fs = std::filesystem;

// Throws Error(HTFAIL_IO_ERROR, "<what> <path>: <strerror>") for `err`.
[[noreturn]] void raiseErrno(int err, std::string_view what, const fs::path& path);

// The whole file, or nullopt when it does not exist; throws on any other failure.
std::optional<std::string> read(const fs::path& path);

// Replaces `path` with `content` so that readers see the old or the new file, never a
// mixture, and the new one survives a crash: temp file, fsync, rename, fsync directory.
void writeAtomic(const fs::path& path, std::string_view content);

// Puts `content` at `path` only when nothing is there yet, whole or not at all: temp file,
// fsync, link into place, fsync directory. False (nothing written) when `path` exists.
bool writeExclusive(const fs::path& path, std::string_view content);

// Creates `dir` and its parents (mode 0700 for new ones); throws on failure.
void ensureDirectory(const fs::path& dir);

// A stamp that changes whenever the file is replaced or written (inode, size, mtime).
struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  int64_t mtimeNs = 0;
  bool operator==(const Stamp&) const = default;
};
Stamp stamp(const fs::path& path);  // size -1 when the file does not exist

// An exclusive advisory lock on `path` (created if needed), held for the object's life;
// serialises read-modify-write cycles between processes.
class FileLock {
 public:
  explicit FileLock(const fs::path& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace quire::engine::files
