// Runs the quire binary as a user would: a fresh data directory per test, each run a real
// process whose output and exit code are returned; Start leaves one running beside the test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace quiretest {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary);
  stream << bytes;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The quire binary: the first argument of this program that is not a gtest flag.
inline std::string QuireBinary() {
  std::ifstream stream("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> words;
  for (std::string word; std::getline(stream, word, '\0');) words.push_back(word);
  for (size_t index = 1; index < words.size(); ++index) {
    if (words[index].rfind("--gtest", 0) != 0) return words[index];
  }
  return {};
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = QuireBinary();
    ASSERT_FALSE(binary_.empty());
    char pattern[] = "/tmp/quire-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/data";
    std::filesystem::create_directory(data_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<std::string> Words(const std::vector<std::string>& args) const {
    std::vector<std::string> words = {binary_, "--data", data_, "--user", "Cli Admin"};
    words.insert(words.end(), args.begin(), args.end());
    return words;
  }

  // Starts `quire args...` with its output in files named after `name`; Wait collects it.
  pid_t Start(const std::vector<std::string>& args, const std::string& name = "run") {
    const std::string out = dir_ + "/" + name + ".out", err = dir_ + "/" + name + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<std::string> words = Words(args);
    std::vector<char*> argv;
    for (const auto& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, binary_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) ADD_FAILURE() << "cannot start " << binary_;
    return spawned == 0 ? pid : -1;
  }

  Result Wait(pid_t pid, const std::string& name = "run") {
    Result result;
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(dir_ + "/" + name + ".out");
    result.err = ReadFile(dir_ + "/" + name + ".err");
    return result;
  }

  Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

  std::string binary_;
  std::string dir_;
  std::string data_;
};

// Each runs its argument once.
#define EXPECT_OK(run)                                 \
  do {                                                 \
    const ::quiretest::Result result_ = (run);         \
    EXPECT_EQ(result_.exitCode, 0) << result_.err;     \
  } while (0)
#define ASSERT_OK(run)                                 \
  do {                                                 \
    const ::quiretest::Result result_ = (run);         \
    ASSERT_EQ(result_.exitCode, 0) << result_.err;     \
  } while (0)

}  // namespace quiretest
