// Plays the reader of a password block in another process: opens the block named by its
// argument (creating it owner-only when it does not exist yet), holds it open, prints
// "ready <1 if it created the block, else 0>", waits for a line on stdin, then prints
// "<text length> <non-zero bytes after the terminator>" and the text on its own line.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kBlockSize = 255;

void Report(const char* block) {
  const size_t length = strnlen(block, kBlockSize);
  size_t tail = 0;
  for (size_t i = length; i < kBlockSize; ++i) tail += block[i] != '\0' ? 1 : 0;
  std::printf("%zu %zu\n", length, tail);
  std::fwrite(block, 1, length, stdout);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string name = std::string("/") + argv[1];
  bool created = true;
  int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (fd < 0) {
    created = false;
    fd = shm_open(name.c_str(), O_RDWR, 0);
  }
  if (fd < 0) return 3;
  void* address = MAP_FAILED;
  if (!created || ftruncate(fd, kBlockSize) == 0) {
    address = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (address == MAP_FAILED) {
    if (created) shm_unlink(name.c_str());
    return 4;
  }
  const char* block = static_cast<const char*>(address);

  std::printf("ready %d\n", created ? 1 : 0);
  std::fflush(stdout);
  char line[16];
  const bool go = std::fgets(line, sizeof line, stdin) != nullptr;
  if (go) Report(block);
  munmap(address, kBlockSize);
  close(fd);
  if (created) shm_unlink(name.c_str());
  return go ? 0 : 6;
}

