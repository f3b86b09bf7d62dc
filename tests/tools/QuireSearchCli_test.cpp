// The search, ftsearch, eval, agent and ftindex commands of the quire tool, run as a user
// would run them. Shares the test program (and its main) with QuireCli_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string BinaryArgument() {
  std::ifstream stream("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> words;
  std::string word;
  while (std::getline(stream, word, '\0')) words.push_back(word);
  for (size_t index = 1; index < words.size(); ++index)
    if (words[index].rfind("--gtest", 0) != 0) return words[index];
  return {};
}

std::string Slurp(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class QuireSearchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = BinaryArgument();
    ASSERT_FALSE(binary_.empty());
    char pattern[] = "/tmp/quire-search-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/data");
    ASSERT_EQ(Run({"db", "create", "shop.nsf"}).exitCode, 0);
    pencils_ = Create({"--form", "Order", "Subject=Blue harbour pencils", "Amount:number=120"});
    anvil_ = Create({"--form", "Order", "Subject=Anvil", "Amount:number=800"});
    rent_ = Create({"--form", "Invoice", "Subject=Rent for the harbour", "Amount:number=1200"});
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Outcome Run(std::vector<std::string> args) {
    std::vector<std::string> words = {binary_, "--data", dir_ + "/data", "--user", "Cli Admin"};
    words.insert(words.end(), args.begin(), args.end());
    const std::string outPath = dir_ + "/out.txt", errPath = dir_ + "/err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome result;
    const int spawned = posix_spawn(&pid, binary_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << binary_;
      return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    return result;
  }

  std::string Create(std::vector<std::string> args) {
    args.insert(args.begin(), {"doc", "create", "shop.nsf"});
    Outcome r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
  }

  std::string binary_, dir_;
  std::string pencils_, anvil_, rent_;
};

TEST_F(QuireSearchCli, SearchAndFullText) {
  Outcome orders = Run({"search", "shop.nsf", "Form = \"order\" & Amount > 100"});
  ASSERT_EQ(orders.exitCode, 0) << orders.err;
  EXPECT_EQ(orders.out, pencils_ + "  Order\n" + anvil_ + "  Order\n2 documents\n");

  Outcome words = Run({"ftsearch", "shop.nsf", "harbour"});
  ASSERT_EQ(words.exitCode, 0) << words.err;
  EXPECT_EQ(words.out, pencils_ + "  Order\n" + rent_ + "  Invoice\n2 documents\n");
  EXPECT_EQ(Run({"ftsearch", "shop.nsf", "harbour", "--max", "1"}).out, pencils_ + "  Order\n1 document\n");

  ASSERT_EQ(Run({"ftindex", "create", "shop.nsf"}).exitCode, 0);
  EXPECT_EQ(Run({"ftsearch", "shop.nsf", "\"blue harbour\""}).out, pencils_ + "  Order\n1 document\n");
  ASSERT_EQ(Run({"ftindex", "delete", "shop.nsf"}).exitCode, 0);

  Outcome bad = Run({"search", "shop.nsf", "Form = "});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("position"), std::string::npos) << bad.err;
  Outcome badQuery = Run({"ftsearch", "shop.nsf", "(harbour"});
  EXPECT_EQ(badQuery.exitCode, 1);
  EXPECT_NE(badQuery.err.find("0x8000201F"), std::string::npos) << badQuery.err;
  EXPECT_EQ(Run({"ftsearch", "shop.nsf", "harbour", "--max", "lots"}).exitCode, 2);
}

TEST_F(QuireSearchCli, EvalAndAgents) {
  Outcome eval = Run({"eval", "shop.nsf", "Subject + \": \" + @Text(Amount) + \" \" + @DocumentUniqueID", rent_});
  ASSERT_EQ(eval.exitCode, 0) << eval.err;
  EXPECT_EQ(eval.out, "Rent for the harbour: 1200 " + rent_ + "\n");
  EXPECT_EQ(Run({"eval", "shop.nsf", "1 + 2 : 4"}).out, "3; 5\n");
  EXPECT_EQ(Run({"eval", "shop.nsf", "1", "NOT-A-UNID"}).exitCode, 2);

  ASSERT_EQ(Run({"agent", "create", "shop.nsf", "Discount", "FIELD Amount := Amount / 2", "--select",
                 "Form = \"Order\""}).exitCode, 0);
  EXPECT_EQ(Run({"agent", "list", "shop.nsf"}).out, "Discount\n");
  Outcome run = Run({"agent", "run", "shop.nsf", "Discount"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "agent Discount: 2 processed, 2 changed\n");
  EXPECT_EQ(Run({"search", "shop.nsf", "Amount = 400"}).out, anvil_ + "  Order\n1 document\n");
  Outcome missing = Run({"agent", "run", "shop.nsf", "Nope"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("no agent 'Nope'"), std::string::npos) << missing.err;
  EXPECT_EQ(Run({"agent", "create", "shop.nsf", "Discount", "1"}).exitCode, 1);  // name taken
}

}  // namespace
