#include "rtl/SharedMemory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "rtl/Errors.h"

namespace rtl {
namespace {

class PosixApi final : public SharedMemoryApi {
 public:
  int Open(const char* name, int flags, mode_t mode) override { return shm_open(name, flags, mode); }
  int Stat(int fd, struct stat* status) override { return fstat(fd, status); }
  int Truncate(int fd, off_t size) override { return ftruncate(fd, size); }
  void* Map(size_t size, int fd) override {
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : address;
  }
  int Unmap(void* address, size_t size) override { return munmap(address, size); }
  int Close(int fd) override { return close(fd); }
  int Unlink(const char* name) override { return shm_unlink(name); }
};

// A block unlinked between our failed exclusive create and the plain open
// makes the open fail with ENOENT; a few rounds settle such a race.
constexpr int kOpenAttempts = 4;

}  // namespace

SharedMemoryApi& PosixSharedMemoryApi() {
  static PosixApi api;
  return api;
}

std::string SharedMemory::SystemName(const std::string& name) {
  return !name.empty() && name.front() == '/' ? name : "/" + name;
}

SharedMemory::SharedMemory(const std::string& name, size_t size, SharedMemoryApi* api)
    : api_(api != nullptr ? api : &PosixSharedMemoryApi()), name_(name), size_(size) {
  const std::string systemName = SystemName(name);
  for (int attempt = 0; attempt < kOpenAttempts && fd_ < 0; ++attempt) {
    fd_ = api_->Open(systemName.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd_ >= 0) {
      isNewMapping_ = true;
      break;
    }
    if (errno != EEXIST) Fail(errno);
    fd_ = api_->Open(systemName.c_str(), O_RDWR, 0);
    if (fd_ < 0 && errno != ENOENT) Fail(errno);
  }
  if (fd_ < 0) Fail(errno);

  struct stat status {};
  if (api_->Stat(fd_, &status) != 0) Fail(errno);
  // A block someone else made, or one others may open, could hand what is written into it
  // (a password) to another user: only an owner-only block of this user is used.
  if (!isNewMapping_ && (status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)) Fail(EACCES);
  // Never shrink a block another process already uses.
  if (static_cast<unsigned long long>(status.st_size) < size) {
    if (size > static_cast<unsigned long long>(INT64_MAX)) Fail(EFBIG);
    if (api_->Truncate(fd_, static_cast<off_t>(size)) != 0) Fail(errno);
  }
  buffer_ = api_->Map(size, fd_);
  if (buffer_ == nullptr) Fail(errno);
}

SharedMemory::~SharedMemory() { Release(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : api_(other.api_),
      name_(std::move(other.name_)),
      size_(other.size_),
      isNewMapping_(other.isNewMapping_),
      fd_(std::exchange(other.fd_, -1)),
      buffer_(std::exchange(other.buffer_, nullptr)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Release();
    api_ = other.api_;
    name_ = std::move(other.name_);
    size_ = other.size_;
    isNewMapping_ = other.isNewMapping_;
    fd_ = std::exchange(other.fd_, -1);
    buffer_ = std::exchange(other.buffer_, nullptr);
  }
  return *this;
}

bool SharedMemory::Unlink(const std::string& name, SharedMemoryApi* api) {
  SharedMemoryApi& calls = api != nullptr ? *api : PosixSharedMemoryApi();
  return calls.Unlink(SystemName(name).c_str()) == 0;
}

void SharedMemory::Fail(int code) {
  // The code is taken before the clean-up, which may change errno. A block
  // this call created is removed again rather than left behind half made.
  Release();
  if (isNewMapping_) api_->Unlink(SystemName(name_).c_str());
  throw ESharedMemoryError("Error creating shared memory " + name_ + " (" + std::to_string(code) + ")", code);
}

void SharedMemory::Release() noexcept {
  if (buffer_ != nullptr) api_->Unmap(std::exchange(buffer_, nullptr), size_);
  if (fd_ >= 0) api_->Close(std::exchange(fd_, -1));
}

}  // namespace rtl
