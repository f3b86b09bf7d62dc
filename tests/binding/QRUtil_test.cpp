// TSharedMem and the password hand-off, seen from this process and from a reader process.
#include "objects/QRUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "rtl/Errors.h"

extern char** environ;

namespace {

constexpr char kPasswordBlock[] = "QRPasswordMem";

bool BlockExists(const std::string& name) {
  const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The reader program in a child process, holding the block open until Finish().
class ReaderProcess {
 public:
  explicit ReaderProcess(const std::string& name) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::string program = QR_PASSWORD_READER;
    std::string argument = name;
    char* argv[] = {program.data(), argument.data(), nullptr};
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input_ = fdopen(toChild[1], "w");
    output_ = fdopen(fromChild[0], "r");
    if (error != 0) {
      pid_ = -1;
      return;
    }
    int created = 0;
    ready_ = ReadLine() && std::sscanf(line_, "ready %d", &created) == 1;
    created_ = created != 0;
  }

  ~ReaderProcess() {
    if (input_ != nullptr) std::fclose(input_);
    if (output_ != nullptr) std::fclose(output_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  bool Ready() const { return ready_; }
  bool Created() const { return created_; }

  // Lets the reader read the block; fills in what it saw. False when it did not report.
  bool Finish(std::string* text, size_t* tailBytes) {
    std::fputs("go\n", input_);
    std::fflush(input_);
    size_t length = 0;
    if (!ReadLine() || std::sscanf(line_, "%zu %zu", &length, tailBytes) != 2) return false;
    text->assign(length, '\0');
    if (length > 0 && std::fread(text->data(), 1, length, output_) != length) return false;
    int status = 0;
    waitpid(std::exchange(pid_, -1), &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  bool ReadLine() { return output_ != nullptr && std::fgets(line_, sizeof line_, output_) != nullptr; }

  pid_t pid_ = -1;
  FILE* input_ = nullptr;
  FILE* output_ = nullptr;
  bool ready_ = false;
  bool created_ = false;
  char line_[64] = {};
};

class SharedMemTest : public ::testing::Test {
 protected:
  std::string name_ = "QRBindingTest" + std::to_string(getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(SharedMemTest, CreatesAnOwnerOnlyBlockThatEndsWithItsCreator) {
  {
    TSharedMem first(name_, 255);
    EXPECT_TRUE(first.IsNewMapping);
    EXPECT_EQ(first.Name, name_);
    EXPECT_EQ(first.Size, 255u);
    ASSERT_NE(first.Buffer, nullptr);
    struct stat status {};
    ASSERT_EQ(fstat(first.MapHandle, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(status.st_size, 255);
    std::strcpy(static_cast<char*>(first.Buffer), "shared");

    TSharedMem second(name_, 255);
    EXPECT_FALSE(second.IsNewMapping);
    EXPECT_STREQ(static_cast<const char*>(second.Buffer), "shared");
  }
  EXPECT_FALSE(BlockExists(name_));
}

TEST_F(SharedMemTest, RefusedNameOrSizeRaisesWithNameAndErrorCode) {
  try {
    TSharedMem block("bad/name", 255);
    FAIL() << "a name with an inner slash was accepted";
  } catch (const rtl::ESharedMemoryError& error) {
    EXPECT_EQ(error.Code(), EINVAL);
    EXPECT_STREQ(error.what(), "Error creating shared memory bad/name (22)");
  }
  try {
    TSharedMem block(name_, 0);
    FAIL() << "an empty block was mapped";
  } catch (const rtl::ESharedMemoryError& error) {
    EXPECT_EQ(std::string(error.what()), "Error creating shared memory " + name_ + " (" +
                                             std::to_string(error.Code()) + ")");
  }
  EXPECT_FALSE(BlockExists(name_));
}

TEST(PasswordHandOff, ReaderInAnotherProcessSeesThePassword) {
  ReaderProcess reader(kPasswordBlock);
  ASSERT_TRUE(reader.Ready());
  {
    TSharedMem block(kPasswordBlock, 255);
    EXPECT_FALSE(block.IsNewMapping);  // the reader holds it open
  }
  QRSetPassword("s3cret pässword");
  std::string text;
  size_t tail = 0;
  ASSERT_TRUE(reader.Finish(&text, &tail));
  EXPECT_EQ(text, "s3cret pässword");
  EXPECT_EQ(tail, 0u);
}

TEST(PasswordHandOff, LongPasswordIsCutTo254AndNoEarlierTailSurvives) {
  ReaderProcess reader(kPasswordBlock);
  ASSERT_TRUE(reader.Ready());
  QRSetPassword(std::string(300, 'p'));
  std::string text;
  size_t tail = 0;
  ASSERT_TRUE(reader.Finish(&text, &tail));
  EXPECT_EQ(text, std::string(254, 'p'));
  EXPECT_EQ(tail, 0u);

  ReaderProcess second(kPasswordBlock);
  ASSERT_TRUE(second.Ready());
  QRSetPassword(std::string(200, 'a'));
  QRSetPassword("xy");
  ASSERT_TRUE(second.Finish(&text, &tail));
  EXPECT_EQ(text, "xy");
  EXPECT_EQ(tail, 0u) << "bytes of the earlier password were left behind";
}

TEST(PasswordHandOff, EmptyPasswordWritesOnlyTheTerminator) {
  ReaderProcess reader(kPasswordBlock);
  ASSERT_TRUE(reader.Ready());
  QRSetPassword("before");
  QRSetPassword("");
  std::string text = "unset";
  size_t tail = 1;
  ASSERT_TRUE(reader.Finish(&text, &tail));
  EXPECT_EQ(text, "");
  EXPECT_EQ(tail, 0u);
}

// Another local user makes "QRPasswordMem" first, owner-only for itself, and keeps it mapped
// to catch the next password written into it.
TEST(PasswordHandOff, ABlockAnotherUserMadeIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char result = 'x';
    if (setgid(65534) == 0 && setuid(65534) == 0) {
      const int fd = shm_open("/QRPasswordMem", O_CREAT | O_EXCL | O_RDWR, 0600);
      result = fd >= 0 && ftruncate(fd, 255) == 0 ? 'r' : 'b';
    }
    (void)!write(ready[1], &result, 1);
    (void)!read(done[0], &result, 1);
    shm_unlink("/QRPasswordMem");
    _exit(0);
  }
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  if (state == 'r') {
    EXPECT_THROW(QRSetPassword("must not leak"), rtl::ESharedMemoryError);
    const int fd = shm_open("/QRPasswordMem", O_RDONLY, 0);
    EXPECT_GE(fd, 0);
    char bytes[16] = {};
    EXPECT_EQ(pread(fd, bytes, sizeof bytes, 0), ssize_t(sizeof bytes));
    EXPECT_EQ(std::string(bytes, sizeof bytes), std::string(sizeof bytes, '\0'));
    close(fd);
  }
  (void)!write(done[1], "x", 1);
  waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  if (state != 'r') GTEST_SKIP() << "the block is in use by another process";
}

TEST(PasswordHandOff, WithoutAReaderThePasswordDoesNotLinger) {
  if (BlockExists(kPasswordBlock)) GTEST_SKIP() << "another process holds " << kPasswordBlock;
  QRSetPassword("fleeting");
  EXPECT_FALSE(BlockExists(kPasswordBlock));
}

}  // namespace
