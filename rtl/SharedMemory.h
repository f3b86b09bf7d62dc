// SharedMemory: one named POSIX shared-memory block (shm_open + mmap), mapped
// read-write for the object's lifetime; move-only. The block is created with
// mode 0600 (owner only: it carries a password) or, when the name is already
// in use, the existing block is opened; IsNewMapping() tells which. An existing
// block is refused (EACCES) unless this user owns it and its mode is owner-only,
// so another local user cannot pre-create a block to read what is written into
// it. A name without a leading '/' gets one. The block outlives the object:
// destruction unmaps and closes but never unlinks (use Unlink for that).
//
// Creation failure throws ESharedMemoryError with the message
// "Error creating shared memory <name> (<errno>)", name as given; nothing is
// left open, and a block the failed call created is unlinked again. System
// calls go through SharedMemoryApi, whose default is POSIX, so a test can make
// any step fail. One thread at a time per object; the block itself has no
// locking, like any shared memory.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace rtl {

// Each call returns what its POSIX namesake returns and leaves errno set on failure.
class SharedMemoryApi {
 public:
  virtual ~SharedMemoryApi() = default;
  virtual int Open(const char* name, int flags, mode_t mode) = 0;      // shm_open
  virtual int Stat(int fd, struct stat* status) = 0;                   // fstat
  virtual int Truncate(int fd, off_t size) = 0;                        // ftruncate
  virtual void* Map(size_t size, int fd) = 0;                          // mmap shared read-write
  virtual int Unmap(void* address, size_t size) = 0;                   // munmap
  virtual int Close(int fd) = 0;                                       // close
  virtual int Unlink(const char* name) = 0;                            // shm_unlink
};

SharedMemoryApi& PosixSharedMemoryApi();

class SharedMemory {
 public:
  // `api` nullptr means the POSIX calls; it must outlive the object.
  SharedMemory(const std::string& name, size_t size, SharedMemoryApi* api = nullptr);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;

  const std::string& Name() const noexcept { return name_; }
  size_t Size() const noexcept { return size_; }
  bool IsNewMapping() const noexcept { return isNewMapping_; }
  // Size() bytes, writable; nullptr only after the object was moved from.
  void* Buffer() const noexcept { return buffer_; }
  // The open descriptor (e.g. for fstat); -1 after a move.
  int Descriptor() const noexcept { return fd_; }

  // The name as handed to shm_open: with a leading '/'.
  static std::string SystemName(const std::string& name);
  // Removes the name; false with errno set when that fails.
  static bool Unlink(const std::string& name, SharedMemoryApi* api = nullptr);

 private:
  [[noreturn]] void Fail(int code);
  void Release() noexcept;

  SharedMemoryApi* api_;
  std::string name_;
  size_t size_;
  bool isNewMapping_ = false;
  int fd_ = -1;
  void* buffer_ = nullptr;
};

}  // namespace rtl
