// Runs the quire binary named by the first argument (CTest passes the built one).
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <cstdio>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string quireBinary;

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream stream(path);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

// A fresh data directory per test; every run of the tool in the test uses it.
class QuireCli : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quire-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/data";
    std::filesystem::create_directory(data_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `quire --data DIR --user USER args...`; user "" leaves --user out.
  Result Run(std::vector<std::string> args, const std::string& user = "Cli Admin") {
    std::vector<std::string> words = {quireBinary, "--data", data_};
    if (!user.empty()) words.insert(words.end(), {"--user", user});
    words.insert(words.end(), args.begin(), args.end());
    return Spawn(words);
  }

  Result Spawn(const std::vector<std::string>& words) {
    const std::string outPath = dir_ + "/out.txt";
    const std::string errPath = dir_ + "/err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const auto& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    const int spawned = posix_spawn(&pid, quireBinary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << quireBinary;
      return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
  }

  std::string dir_;
  std::string data_;
};

#define EXPECT_OK(result) EXPECT_EQ((result).exitCode, 0) << (result).err
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(QuireCli, UsageErrorsExitWithTwo) {
  Result none = Spawn({quireBinary});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_TRUE(Contains(none.err, "usage: quire")) << none.err;
  Result unknown = Run({"frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Contains(unknown.err, "unknown command 'frobnicate'")) << unknown.err;
  Result missing = Run({"acl", "add", "x.nsf"});
  EXPECT_EQ(missing.exitCode, 2);
  // The one usage line of the command and a hint, not the group's whole usage.
  EXPECT_TRUE(Contains(missing.err, "quire acl add PATH NAME LEVEL")) << missing.err;
  EXPECT_FALSE(Contains(missing.err, "quire acl show")) << missing.err;
  EXPECT_TRUE(Contains(missing.err, "Try 'quire acl --help'")) << missing.err;
  Result badLevel = Run({"acl", "add", "x.nsf", "Someone", "emperor"});
  EXPECT_EQ(badLevel.exitCode, 2);
  EXPECT_TRUE(Contains(badLevel.err, "unknown access level 'emperor'")) << badLevel.err;
  Result help = Run({"help"});
  EXPECT_OK(help);
  EXPECT_TRUE(Contains(help.out, "usage: quire")) << help.out;
  EXPECT_TRUE(Contains(help.out, "  db ")) << help.out;
}

TEST_F(QuireCli, HelpForEveryCommandAndTheVersion) {
  Result overview = Spawn({quireBinary, "--help"});
  EXPECT_OK(overview);
  EXPECT_TRUE(Contains(overview.out, "  info ")) << overview.out;
  Result group = Run({"db", "--help"});
  EXPECT_OK(group);
  EXPECT_TRUE(Contains(group.out, "quire db backup PATH FILE")) << group.out;
  Result command = Run({"acl", "role", "add", "--help"});
  EXPECT_OK(command);
  EXPECT_EQ(command.out, "usage:\n  quire acl role add PATH ROLE\n");
  Result version = Spawn({quireBinary, "--version"});
  EXPECT_OK(version);
  EXPECT_EQ(version.out.rfind("quire ", 0), 0u) << version.out;
  Result man = Run({"help", "--man"});
  EXPECT_OK(man);
  EXPECT_TRUE(Contains(man.out, ".TH QUIRE 1")) << man.out;
  EXPECT_TRUE(Contains(man.out, "quire db restore FILE PATH")) << man.out;
  Result completion = Run({"help", "--completion", "bash"});
  EXPECT_OK(completion);
  EXPECT_TRUE(Contains(completion.out, "\"db\") echo \"")) << completion.out;
  EXPECT_TRUE(Contains(completion.out, "complete -F _quire quire")) << completion.out;
}

TEST_F(QuireCli, MissingDatabaseIsAClearFailure) {
  Result result = Run({"db", "show", "missing.nsf"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(Contains(result.err, "quire: cannot open database 'missing.nsf': ")) << result.err;
  EXPECT_TRUE(result.out.empty());
}

TEST_F(QuireCli, CreateListShowAndSetADatabase) {
  EXPECT_OK(Run({"db", "create", "notes/team.nsf", "--title", "Team Notes"}));
  Result again = Run({"db", "create", "notes/team.nsf"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(Contains(again.err, "cannot create database 'notes/team.nsf'")) << again.err;

  Result top = Run({"db", "list"});
  EXPECT_OK(top);
  EXPECT_TRUE(Contains(top.out, "dir  ")) << top.out;
  EXPECT_TRUE(Contains(top.out, "notes")) << top.out;
  Result inside = Run({"db", "list", "notes"});
  EXPECT_OK(inside);
  EXPECT_TRUE(Contains(inside.out, "team.nsf")) << inside.out;
  EXPECT_TRUE(Contains(inside.out, "Team Notes")) << inside.out;

  EXPECT_OK(Run({"db", "set", "notes/team.nsf", "title", "Renamed Notes"}));
  EXPECT_OK(Run({"db", "set", "notes/team.nsf", "replpriority", "high"}));
  Result delay = Run({"db", "set", "notes/team.nsf", "delaycommit", "on"});
  EXPECT_OK(delay);
  EXPECT_TRUE(Contains(delay.err, "delay commit lasts only while")) << delay.err;
  Result show = Run({"db", "show", "notes\\team.nsf"});
  EXPECT_OK(show);
  EXPECT_TRUE(Contains(show.out, "Title:             Renamed Notes")) << show.out;
  EXPECT_TRUE(Contains(show.out, "File name:         team.nsf")) << show.out;
  EXPECT_TRUE(Contains(show.out, "File path:         notes\\")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Replica priority:  high")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Delay commit:      off")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Replica ID:        ")) << show.out;
  EXPECT_EQ(Run({"db", "set", "notes/team.nsf", "colour", "red"}).exitCode, 2);
  EXPECT_EQ(Run({"db", "set", "notes/team.nsf", "replpriority", "urgent"}).exitCode, 2);
  EXPECT_EQ(Run({"db", "set", "missing.nsf", "replpriority", "urgent"}).exitCode, 2);
}

TEST_F(QuireCli, ChangeTheAccessControlList) {
  ASSERT_EQ(Run({"db", "create", "acl.nsf"}).exitCode, 0);
  EXPECT_OK(Run({"acl", "add", "acl.nsf", "Dana Writer", "author"}));
  EXPECT_EQ(Run({"acl", "add", "acl.nsf", "dana writer", "reader"}).exitCode, 1);
  EXPECT_OK(Run({"acl", "role", "add", "acl.nsf", "[Sales]"}));
  EXPECT_OK(Run({"acl", "role", "add", "acl.nsf", "[Temp]"}));
  EXPECT_OK(Run({"acl", "role", "rename", "acl.nsf", "[Temp]", "[Support]"}));
  EXPECT_OK(Run({"acl", "entry-role", "enable", "acl.nsf", "Dana Writer", "[Sales]"}));
  EXPECT_OK(Run({"acl", "set", "acl.nsf", "Dana Writer", "delete-documents", "off"}));
  EXPECT_OK(Run({"acl", "set", "acl.nsf", "Dana Writer", "level", "editor"}));
  Result noRole = Run({"acl", "entry-role", "enable", "acl.nsf", "Dana Writer", "[Nope]"});
  EXPECT_EQ(noRole.exitCode, 1);
  EXPECT_TRUE(Contains(noRole.err, "no role '[Nope]'")) << noRole.err;
  Result noEntry = Run({"acl", "set", "acl.nsf", "Nobody", "level", "reader"});
  EXPECT_EQ(noEntry.exitCode, 1);
  EXPECT_TRUE(Contains(noEntry.err, "no entry 'Nobody'")) << noEntry.err;

  Result show = Run({"acl", "show", "acl.nsf"});
  EXPECT_OK(show);
  EXPECT_TRUE(Contains(show.out, "Uniform access: off")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Cli Admin")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Manager")) << show.out;
  std::istringstream lines(show.out);
  std::string line;
  std::string dana;
  while (std::getline(lines, line)) {
    if (Contains(line, "Dana Writer")) dana = line;
  }
  EXPECT_TRUE(Contains(dana, "Editor")) << dana;
  EXPECT_TRUE(Contains(dana, "create-documents")) << dana;
  EXPECT_FALSE(Contains(dana, "delete-documents")) << dana;
  EXPECT_TRUE(Contains(dana, "roles: [Sales]")) << dana;
  EXPECT_TRUE(Contains(show.out, "Roles:\n  [Sales]\n  [Support]\n")) << show.out;

  EXPECT_OK(Run({"acl", "role", "delete", "acl.nsf", "[Support]"}));
  EXPECT_EQ(Run({"acl", "role", "delete", "acl.nsf", "[Support]"}).exitCode, 1);
  EXPECT_OK(Run({"acl", "set", "acl.nsf", "Dana Writer", "name", "Dana Editor"}));
  EXPECT_OK(Run({"acl", "delete", "acl.nsf", "Dana Editor"}));
  EXPECT_FALSE(Contains(Run({"acl", "show", "acl.nsf"}).out, "Dana"));
}

TEST_F(QuireCli, UniformAccessIsEnforcedForOtherUsers) {
  ASSERT_EQ(Run({"db", "create", "guarded.nsf", "--title", "Guarded"}).exitCode, 0);
  EXPECT_OK(Run({"acl", "add", "guarded.nsf", "Rita Reader", "reader"}));
  // Without uniform access a local database is open to everyone.
  EXPECT_OK(Run({"db", "set", "guarded.nsf", "title", "Open"}, "Rita Reader"));
  EXPECT_OK(Run({"acl", "uniform", "guarded.nsf", "on"}));
  EXPECT_TRUE(Contains(Run({"acl", "show", "guarded.nsf"}).out, "Uniform access: on"));

  Result denied = Run({"db", "set", "guarded.nsf", "title", "Mine Now"}, "Rita Reader");
  EXPECT_EQ(denied.exitCode, 1);
  EXPECT_TRUE(Contains(denied.err, "quire: cannot set title of 'guarded.nsf': ")) << denied.err;
  Result notManager = Run({"acl", "set", "guarded.nsf", "Rita Reader", "level", "manager"}, "Rita Reader");
  EXPECT_EQ(notManager.exitCode, 1);
  EXPECT_TRUE(Contains(notManager.err, "cannot change 'Rita Reader'")) << notManager.err;
  Result show = Run({"db", "show", "guarded.nsf"}, "Rita Reader");
  EXPECT_OK(show);
  EXPECT_TRUE(Contains(show.out, "Title:             Open")) << show.out;
}

TEST_F(QuireCli, EnvironmentStringsPersistAcrossRuns) {
  EXPECT_OK(Run({"env", "set", "Colour", "green"}));
  Result get = Run({"env", "get", "Colour"});
  EXPECT_OK(get);
  EXPECT_EQ(get.out, "green\n");
}

// A damaged quire.ini is said, and setting a string keeps the settings it held.
TEST_F(QuireCli, ADamagedIniIsWarnedAboutAndKeptThroughASet) {
  std::ofstream(data_ + "/quire.ini") << "[Session\nUserName=Ann Example\n\n[Servers]\nHub=/srv/hub\n";
  Result set = Run({"env", "set", "Colour", "green"}, "");
  EXPECT_OK(set);
  EXPECT_TRUE(Contains(set.err, "quire: warning: quire.ini line 1: ")) << set.err;
  const std::string ini = ReadFile(data_ + "/quire.ini");
  for (const char* line : {"[Session\n", "UserName=Ann Example\n", "[Servers]\n", "Hub=/srv/hub\n", "Colour=green\n"})
    EXPECT_TRUE(Contains(ini, line)) << "lost " << line << " from\n" << ini;
}

TEST_F(QuireCli, ServersListsTheLocalServer) {
  Result result = Run({"servers"});
  EXPECT_OK(result);
  EXPECT_FALSE(result.out.empty());
}

TEST_F(QuireCli, DemoMakesTheSampleDatabaseOnce) {
  Result first = Run({"demo"}, "");
  EXPECT_OK(first);
  EXPECT_TRUE(Contains(first.out, "Quire keeps its databases in " + data_)) << first.out;
  EXPECT_TRUE(Contains(first.out, "Folder 'Follow Up' (16 orders")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Try next:\n  quire view show sample.nsf")) << first.out;
  // Filled before its facts are shown: the size and index state are those of the full database.
  EXPECT_LT(first.out.find("Added 300 orders"), first.out.find("Full-text indexed: yes")) << first.out;
  // The view is a table: the total lines up under the amounts.
  EXPECT_TRUE(Contains(first.out, "    = total                  82787.5\n")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Created the sample database sample.nsf")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Title:             Quire Sample")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Bob Editor")) << first.out;
  EXPECT_TRUE(Contains(first.out, "roles: [Editors]")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Roles:\n  [Admin]\n  [Editors]\n  [Reviewers]\n")) << first.out;
  EXPECT_TRUE(std::filesystem::exists(data_ + "/sample.nsf"));

  EXPECT_TRUE(Contains(first.out, "Added 300 orders")) << first.out;
  EXPECT_TRUE(Contains(first.out, "View 'By Customer'")) << first.out;
  EXPECT_TRUE(Contains(first.out, "+ Acme Corp")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Key search for 'Cobalt Labs' in 'By Customer': found")) << first.out;
  EXPECT_TRUE(Contains(first.out, "Full-text search 'urgent AND delivery': 60 documents")) << first.out;

  Result second = Run({"demo"}, "");
  EXPECT_OK(second);
  EXPECT_TRUE(Contains(second.out, "Using the sample database")) << second.out;
  EXPECT_FALSE(Contains(second.out, "Added 300 orders")) << second.out;
  // Nothing was added twice: the ACL and what the views and searches show are the same.
  const auto from = [](const std::string& out) { return out.substr(out.find("Access control list:")); };
  EXPECT_EQ(from(first.out), from(second.out));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) runs none, so it needs no binary.
  if (argc < 2 && !GTEST_FLAG_GET(list_tests)) {
    std::fprintf(stderr, "usage: tools_tests PATH-TO-QUIRE [gtest options]\n");
    return 2;
  }
  if (argc >= 2) quireBinary = argv[1];
  return RUN_ALL_TESTS();
}
