// Helpers for tests that load a C API library. Loading happens once per process and its
// exit handler runs at process exit, so such a test runs its body in a forked child that
// ends with exit(); the test process itself never calls Initialize, which keeps every
// slot of its table on the fallbacks (the fallback tests rely on that).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "binding/Quire01.h"

// Exit code of a child that found the feature under test missing and skipped.
inline constexpr int kChildSkipped = 77;

// Runs `body` in a child process and returns its exit code (-1 when it did not exit). A
// failed expectation in the child is printed there and makes the code 1; the child leaves
// through exit(), so exit handlers run as they would in a real program.
inline int RunInChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    body();
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A private directory per test with the doubles' call log in it.
class FakeApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qr-binding-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    log_ = dir_ + "/calls.log";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // In the child: the loader will load the doubles, steered by `env`.
  void UseFakes(std::initializer_list<std::pair<const char*, const char*>> env = {}) const {
    setenv("QR_FAKE_LOG", log_.c_str(), 1);
    for (const auto& [name, value] : env) setenv(name, value, 1);
    SetAPILibraryNames(QR_FAKE_NTHTAPI, QR_FAKE_NNOTES);
  }

  // The calls the C API double has logged so far, one line each.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::ifstream file(log_);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  // The logged calls whose line starts with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : Calls()) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::string dir_;
  std::string log_;
};
