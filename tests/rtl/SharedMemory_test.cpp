#include "rtl/SharedMemory.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "rtl/Errors.h"

namespace {

using rtl::SharedMemory;

class SharedMemoryTest : public ::testing::Test {
 protected:
  // Unique per process, so parallel test runs do not meet.
  std::string name_ = "QRTest" + std::to_string(getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void TearDown() override { SharedMemory::Unlink(name_); }
};

TEST_F(SharedMemoryTest, CreatesOwnerOnlyBlockAndReopensIt) {
  SharedMemory first(name_, 255);
  EXPECT_TRUE(first.IsNewMapping());
  EXPECT_EQ(first.Name(), name_);
  EXPECT_EQ(first.Size(), 255u);
  struct stat status {};
  ASSERT_EQ(fstat(first.Descriptor(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(status.st_size, 255);
  std::memcpy(first.Buffer(), "secret", 7);

  SharedMemory second("/" + name_, 255);  // the leading slash names the same block
  EXPECT_FALSE(second.IsNewMapping());
  EXPECT_STREQ(static_cast<const char*>(second.Buffer()), "secret");
}

TEST_F(SharedMemoryTest, NeverShrinksABlockInUse) {
  SharedMemory big(name_, 4096);
  static_cast<char*>(big.Buffer())[4095] = 'z';
  SharedMemory small(name_, 255);
  struct stat status {};
  ASSERT_EQ(fstat(small.Descriptor(), &status), 0);
  EXPECT_EQ(status.st_size, 4096);
  EXPECT_EQ(static_cast<char*>(big.Buffer())[4095], 'z');
}

TEST_F(SharedMemoryTest, AnotherProcessSeesTheSameBlock) {
  SharedMemory parent(name_, 255);
  ASSERT_TRUE(parent.IsNewMapping());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 1;
    try {
      SharedMemory block(name_, 255);
      std::strcpy(static_cast<char*>(block.Buffer()), "from child");
      code = block.IsNewMapping() ? 2 : 0;
    } catch (...) {
      code = 3;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_STREQ(static_cast<const char*>(parent.Buffer()), "from child");
}

TEST_F(SharedMemoryTest, RefusedNameGivesTheErrnoInTheMessage) {
  try {
    SharedMemory block("bad/name", 255);
    FAIL() << "no exception";
  } catch (const rtl::ESharedMemoryError& e) {
    EXPECT_EQ(e.Code(), EINVAL);
    EXPECT_EQ(std::string(e.what()), "Error creating shared memory bad/name (" + std::to_string(EINVAL) + ")");
  }
}

// Delegates to the real calls and fails the chosen one with the chosen errno.
class FailingApi : public rtl::SharedMemoryApi {
 public:
  enum Step { kNone, kOpen, kTruncate, kMap };
  Step failAt = kNone;
  int error = 0;
  int opened = 0, closed = 0, mapped = 0, unmapped = 0, unlinked = 0;
  rtl::SharedMemoryApi& real = rtl::PosixSharedMemoryApi();

  int Open(const char* name, int flags, mode_t mode) override {
    if (failAt == kOpen) return Fail<int>(-1);
    const int fd = real.Open(name, flags, mode);
    opened += fd >= 0;
    return fd;
  }
  int Stat(int fd, struct stat* status) override { return real.Stat(fd, status); }
  int Truncate(int fd, off_t size) override { return failAt == kTruncate ? Fail<int>(-1) : real.Truncate(fd, size); }
  void* Map(size_t size, int fd) override {
    if (failAt == kMap) return Fail<void*>(nullptr);
    ++mapped;
    return real.Map(size, fd);
  }
  int Unmap(void* address, size_t size) override {
    ++unmapped;
    return real.Unmap(address, size);
  }
  int Close(int fd) override {
    ++closed;
    return real.Close(fd);
  }
  int Unlink(const char* name) override {
    ++unlinked;
    return real.Unlink(name);
  }

 private:
  template <class T>
  T Fail(T result) {
    errno = error;
    return result;
  }
};

TEST_F(SharedMemoryTest, EveryFailingStepThrowsAndReleasesWhatItHeld) {
  for (auto [step, code] : {std::pair{FailingApi::kOpen, EACCES}, std::pair{FailingApi::kTruncate, ENOSPC},
                            std::pair{FailingApi::kMap, ENOMEM}}) {
    FailingApi api;
    api.failAt = step;
    api.error = code;
    try {
      SharedMemory block("QRPasswordMem-test", 255, &api);
      FAIL() << "no exception at step " << step;
    } catch (const rtl::ESharedMemoryError& e) {
      EXPECT_EQ(std::string(e.what()), "Error creating shared memory QRPasswordMem-test (" + std::to_string(code) + ")");
      EXPECT_EQ(e.Code(), code);
    }
    EXPECT_EQ(api.closed, api.opened) << step;
    EXPECT_EQ(api.unmapped, api.mapped) << step;
    // The block this call created is gone again.
    EXPECT_EQ(api.unlinked, api.opened) << step;
    EXPECT_FALSE(SharedMemory::Unlink("QRPasswordMem-test"));
    EXPECT_EQ(errno, ENOENT);
  }
}

// A block is only as private as its mode and owner: one others may open, or one another user
// made and keeps mapped, would hand them whatever is written into it.
TEST_F(SharedMemoryTest, ABlockOthersCanOpenIsRefusedAndLeftAsItWas) {
  const std::string systemName = SharedMemory::SystemName(name_);
  const int fd = shm_open(systemName.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  ASSERT_EQ(ftruncate(fd, 255), 0);
  try {
    SharedMemory block(name_, 255);
    std::strcpy(static_cast<char*>(block.Buffer()), "password");
    ADD_FAILURE() << "a block open to everyone was used";
  } catch (const rtl::ESharedMemoryError& e) {
    EXPECT_EQ(e.Code(), EACCES);
    EXPECT_EQ(std::string(e.what()), "Error creating shared memory " + name_ + " (" + std::to_string(EACCES) + ")");
  }
  char bytes[16] = {};
  EXPECT_EQ(pread(fd, bytes, sizeof bytes, 0), ssize_t(sizeof bytes));
  EXPECT_EQ(std::string(bytes, sizeof bytes), std::string(sizeof bytes, '\0'));
  close(fd);
  EXPECT_TRUE(SharedMemory::Unlink(name_)) << "the refused block was removed by the refusal";
}

// Reports the block as belonging to another user.
class ForeignOwnerApi : public FailingApi {
 public:
  int Stat(int fd, struct stat* status) override {
    const int rc = real.Stat(fd, status);
    status->st_uid = geteuid() + 1;
    return rc;
  }
};

TEST_F(SharedMemoryTest, AnOwnerOnlyBlockOfAnotherUserIsRefused) {
  SharedMemory mine(name_, 255);
  ForeignOwnerApi api;
  EXPECT_THROW(SharedMemory(name_, 255, &api), rtl::ESharedMemoryError);
  EXPECT_EQ(api.closed, api.opened);
  EXPECT_EQ(api.unlinked, 0);
  SharedMemory again(name_, 255);  // this user's own block is still there and usable
  EXPECT_FALSE(again.IsNewMapping());
}

TEST_F(SharedMemoryTest, ZeroSizeIsAnError) {
  EXPECT_THROW(SharedMemory(name_, 0), rtl::ESharedMemoryError);
}

}  // namespace
