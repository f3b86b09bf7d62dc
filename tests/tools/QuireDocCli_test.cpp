// The "doc" commands of the quire tool, run as a user would run them against a fresh data
// directory. Shares the test program (and its main) with QuireCli_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The quire binary is the first argument of this program that is not a gtest flag (the
// shared main reads it the same way).
std::string QuireBinary() {
  std::ifstream stream("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> words;
  std::string word;
  while (std::getline(stream, word, '\0')) words.push_back(word);
  for (size_t index = 1; index < words.size(); ++index) {
    if (words[index].rfind("--gtest", 0) != 0) return words[index];
  }
  return {};
}

std::string ReadFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary);
  stream << bytes;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The line of `show` output that lists the item `name`.
std::string ItemLine(const std::string& show, const std::string& name) {
  std::istringstream lines(show);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("  " + name + " ", 0) == 0) return line;
  }
  return "(no line for " + name + ")";
}

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class QuireDocCli : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = QuireBinary();
    ASSERT_FALSE(binary_.empty());
    char pattern[] = "/tmp/quire-doc-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/data";
    std::filesystem::create_directory(data_);
    ASSERT_EQ(Run({"db", "create", "docs.nsf", "--title", "Documents"}).exitCode, 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Result Run(std::vector<std::string> args, const std::string& user = "Cli Admin") {
    std::vector<std::string> words = {binary_, "--data", data_, "--user", user};
    words.insert(words.end(), args.begin(), args.end());
    const std::string outPath = dir_ + "/out.txt";
    const std::string errPath = dir_ + "/err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    const int spawned = posix_spawn(&pid, binary_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << binary_;
      return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
  }

  // Creates a document and answers its UNID ("" after a reported failure).
  std::string Create(std::vector<std::string> args) {
    args.insert(args.begin(), {"doc", "create", "docs.nsf"});
    Result result = Run(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::string unid = result.out;
    while (!unid.empty() && unid.back() == '\n') unid.pop_back();
    const bool hex = std::all_of(unid.begin(), unid.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
    EXPECT_TRUE(unid.size() == 32 && hex) << "'" << result.out << "'";
    return unid;
  }

  std::string binary_;
  std::string dir_;
  std::string data_;
};

#define EXPECT_OK(result) EXPECT_EQ((result).exitCode, 0) << (result).err

TEST_F(QuireDocCli, CreateShowListAndDelete) {
  const std::string unid = Create({"--form", "Invoice", "Subject=Quarterly report", "Amount:number=3.5",
                                   "Due:date=2026-12-08 10:00", "Tags:list=a, b,c", "Body:rich=First line\nSecond line",
                                   "Editors:authors=Ann Author,Bob Editor"});
  const std::string other = Create({"Title=Loose note"});
  ASSERT_NE(unid, other);

  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_OK(show);
  EXPECT_TRUE(Contains(show.out, "UNID:     " + unid + "\n")) << show.out;
  EXPECT_TRUE(Contains(show.out, "Form:     Invoice\n")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Form"), "text")) << show.out;
  const std::string subject = ItemLine(show.out, "Subject");
  EXPECT_TRUE(Contains(subject, " text ") && Contains(subject, "Quarterly report")) << subject;
  const std::string amount = ItemLine(show.out, "Amount");
  EXPECT_TRUE(Contains(amount, " number ") && Contains(amount, "3.5")) << amount;
  const std::string due = ItemLine(show.out, "Due");
  EXPECT_TRUE(Contains(due, " date-time ") && Contains(due, "2026") && Contains(due, "10:00")) << due;
  const std::string tags = ItemLine(show.out, "Tags");
  EXPECT_TRUE(Contains(tags, " text list ") && Contains(tags, "a; b; c")) << tags;
  const std::string body = ItemLine(show.out, "Body");
  EXPECT_TRUE(Contains(body, " rich text ") && Contains(body, "First line")) << body;
  EXPECT_TRUE(Contains(show.out, "First line\n") && Contains(show.out, "Second line\n")) << show.out;
  const std::string editors = ItemLine(show.out, "Editors");
  EXPECT_TRUE(Contains(editors, "[authors]") && Contains(editors, "Ann Author; Bob Editor")) << editors;
  EXPECT_FALSE(Contains(subject, "[")) << subject;
  EXPECT_TRUE(Contains(show.out, "Attachments (0):")) << show.out;

  Result list = Run({"doc", "list", "docs.nsf"});
  EXPECT_OK(list);
  EXPECT_TRUE(Contains(list.out, unid + "  Invoice  Quarterly report\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, other + "  -        Loose note\n")) << list.out;

  Result deleted = Run({"doc", "delete", "docs.nsf", unid});
  EXPECT_OK(deleted);
  EXPECT_EQ(deleted.out, "deleted " + unid + "\n");
  Result gone = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_TRUE(Contains(gone.err, "quire: no document " + unid + " in 'docs.nsf'")) << gone.err;
  EXPECT_EQ(Run({"doc", "delete", "docs.nsf", unid}).exitCode, 1);
  Result after = Run({"doc", "list", "docs.nsf"});
  EXPECT_OK(after);
  EXPECT_FALSE(Contains(after.out, unid)) << after.out;
  EXPECT_TRUE(Contains(after.out, other)) << after.out;
}

TEST_F(QuireDocCli, CreateFromJsonKeepsTypesAndOrder) {
  const std::string file = dir_ + "/order.json";
  WriteFile(file, R"({"Form": "Order", "items": {
      "Subject": "From JSON", "Amount": 42, "Tags": ["x", "y z"],
      "Due": {"date": "2027-01-31 08:15:30"}, "Body": {"rich": "Rich body"},
      "Readers": {"readers": ["Ann Reader"]}, "Count": {"number": "7"}, "Codes": {"list": "p,q"}}})");
  Result created = Run({"doc", "create", "docs.nsf", "--json", file});
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const std::string unid = created.out.substr(0, 32);
  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_OK(show);
  EXPECT_TRUE(Contains(show.out, "Form:     Order\n")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Amount"), " number ")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Amount"), "42")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Tags"), "x; y z")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Due"), "08:15:30")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Body"), " rich text ")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Readers"), "[readers] Ann Reader")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Count"), " number ")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Codes"), "p; q")) << show.out;
  // Items keep the order of the file.
  EXPECT_LT(show.out.find("  Subject "), show.out.find("  Amount "));
  EXPECT_LT(show.out.find("  Amount "), show.out.find("  Codes "));

  WriteFile(dir_ + "/broken.json", "{\"items\": {");
  Result broken = Run({"doc", "create", "docs.nsf", "--json", dir_ + "/broken.json"});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_TRUE(Contains(broken.err, "broken.json' is not valid JSON")) << broken.err;
  WriteFile(dir_ + "/flag.json", R"({"items": {"Done": true}})");
  Result flag = Run({"doc", "create", "docs.nsf", "--json", dir_ + "/flag.json"});
  EXPECT_EQ(flag.exitCode, 1);
  EXPECT_TRUE(Contains(flag.err, "item 'Done'")) << flag.err;
  WriteFile(dir_ + "/mixed.json", R"({"items": {"Due": {"date": 5}}})");
  EXPECT_EQ(Run({"doc", "create", "docs.nsf", "--json", dir_ + "/mixed.json"}).exitCode, 1);
  WriteFile(dir_ + "/typo.json", R"({"Fomr": "Order"})");
  Result typo = Run({"doc", "create", "docs.nsf", "--json", dir_ + "/typo.json"});
  EXPECT_EQ(typo.exitCode, 1);
  EXPECT_TRUE(Contains(typo.err, "unknown member \"Fomr\"")) << typo.err;
  Result missing = Run({"doc", "create", "docs.nsf", "--json", dir_ + "/none.json"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Contains(missing.err, "cannot read '" + dir_ + "/none.json'")) << missing.err;
  EXPECT_EQ(Run({"doc", "create", "docs.nsf", "--json", file, "Subject=x"}).exitCode, 2);
  // None of the refused files left a document behind.
  Result list = Run({"doc", "list", "docs.nsf"});
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << list.out;
}

// A NUL would cut the name or text short on its way to the engine, without a word.
TEST_F(QuireDocCli, JsonWithANulInANameOrTextIsRefused) {
  const std::string cases[] = {
      R"({"Form": "Or\u0000der"})",
      R"({"items": {"Sub\u0000ject": "x"}})",
      R"({"items": {"Subject": "cut\u0000here"}})",
      R"({"items": {"Tags": ["a", "b\u0000c"]}})",
      R"({"items": {"Due": {"text": "x\u0000y"}}})",
  };
  for (const std::string& json : cases) {
    WriteFile(dir_ + "/nul.json", json);
    Result refused = Run({"doc", "create", "docs.nsf", "--json", dir_ + "/nul.json"});
    EXPECT_EQ(refused.exitCode, 1) << json;
    EXPECT_TRUE(Contains(refused.err, "holds a NUL character")) << json << ": " << refused.err;
  }
  Result list = Run({"doc", "list", "docs.nsf"});
  EXPECT_EQ(list.out, "") << "a refused file left a document behind";
}

// A damaged document is not a missing one, and a search that meets it does not succeed.
TEST_F(QuireDocCli, ADamagedDocumentIsReportedAsDamaged) {
  const std::string unid = Create({"--form", "Memo", "Subject=soon damaged"});
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((data_ + "/docs.nsf").c_str(), &raw), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(raw, "UPDATE notes SET items = x'0102000000050041'", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_EQ(show.exitCode, 1);
  EXPECT_TRUE(Contains(show.err, "damaged")) << show.err;
  EXPECT_FALSE(Contains(show.err, "no document")) << show.err;
  Result search = Run({"search", "docs.nsf", "Subject = \"x\""});
  EXPECT_NE(search.exitCode, 0) << search.out;
  EXPECT_TRUE(Contains(search.err, "damaged")) << search.err;
}

TEST_F(QuireDocCli, SetKeepsTypesAndFlagsOfExistingItems) {
  const std::string unid =
      Create({"Subject=Old", "Amount:number=1", "Editors:authors=Ann", "Tags:list=a,b", "Obsolete=x",
              "Single:list=one"});
  Result set = Run({"doc", "set", "docs.nsf", unid, "Amount=7.25", "Editors=Ann,Bob", "Subject=New", "Note=added",
                    "Tags:text=flat", "Single=two", "--remove", "Obsolete"});
  EXPECT_OK(set);
  EXPECT_EQ(set.out, "updated " + unid + "\n");
  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_TRUE(Contains(ItemLine(show.out, "Amount"), " number ")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Amount"), "7.25")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Editors"), "[authors] Ann; Bob")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Subject"), "New")) << show.out;
  EXPECT_TRUE(Contains(ItemLine(show.out, "Note"), " text ")) << show.out;
  const std::string tags = ItemLine(show.out, "Tags");
  EXPECT_TRUE(Contains(tags, " text ") && !Contains(tags, "list") && Contains(tags, "flat")) << tags;
  // A one-entry list replaced by another single entry really changes.
  EXPECT_TRUE(Contains(ItemLine(show.out, "Single"), "two")) << show.out;
  EXPECT_FALSE(Contains(show.out, "Obsolete")) << show.out;

  Result notNumber = Run({"doc", "set", "docs.nsf", unid, "Amount=lots"});
  EXPECT_EQ(notNumber.exitCode, 2);
  EXPECT_TRUE(Contains(notNumber.err, "'lots' is not a number (item 'Amount')")) << notNumber.err;
  EXPECT_EQ(Run({"doc", "set", "docs.nsf", unid}).exitCode, 2);
  Result noItem = Run({"doc", "set", "docs.nsf", unid, "--remove", "Missing"});
  EXPECT_EQ(noItem.exitCode, 1);
  EXPECT_TRUE(Contains(noItem.err, "cannot remove item 'Missing'")) << noItem.err;
  // The refused changes changed nothing.
  EXPECT_TRUE(Contains(ItemLine(Run({"doc", "show", "docs.nsf", unid}).out, "Amount"), "7.25"));
}

TEST_F(QuireDocCli, AttachAndExtractKeepEveryByte) {
  const std::string unid = Create({"Subject=With files"});
  std::string bytes;
  for (int index = 0; index < 70000; ++index) bytes.push_back(static_cast<char>((index * 7) % 256));
  const std::string blob = dir_ + "/blob.bin";
  WriteFile(blob, bytes);
  WriteFile(dir_ + "/notes.txt", "plain\n");
  Result attached = Run({"doc", "attach", "docs.nsf", unid, blob, dir_ + "/notes.txt"});
  EXPECT_OK(attached);
  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_TRUE(Contains(show.out, "Attachments (2):\n")) << show.out;
  EXPECT_TRUE(Contains(show.out, "  blob.bin  70000 bytes\n")) << show.out;
  EXPECT_TRUE(Contains(show.out, "  notes.txt  6 bytes\n")) << show.out;

  const std::string copy = dir_ + "/copy.bin";
  Result extracted = Run({"doc", "extract", "docs.nsf", unid, "BLOB.BIN", copy});
  EXPECT_OK(extracted);
  EXPECT_TRUE(ReadFile(copy) == bytes) << "extracted bytes differ";

  Result noSuch = Run({"doc", "extract", "docs.nsf", unid, "other.bin", copy});
  EXPECT_EQ(noSuch.exitCode, 1);
  EXPECT_TRUE(Contains(noSuch.err, "has no attachment 'other.bin'")) << noSuch.err;
  Result unwritable = Run({"doc", "extract", "docs.nsf", unid, "blob.bin", dir_ + "/no/such/dir/x.bin"});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_TRUE(Contains(unwritable.err, "cannot extract 'blob.bin'")) << unwritable.err;

  // One missing file refuses the whole command: the readable one is not attached either.
  Result missing = Run({"doc", "attach", "docs.nsf", unid, dir_ + "/notes.txt", dir_ + "/absent.pdf"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Contains(missing.err, "absent.pdf")) << missing.err;
  EXPECT_TRUE(Contains(Run({"doc", "show", "docs.nsf", unid}).out, "Attachments (2):\n"));
}

TEST_F(QuireDocCli, ExportRichTextAndWholeDocuments) {
  const std::string unid = Create({"Subject=Exported", "Body:rich=Hello <world> & more", "Amount:number=2"});
  const std::string html = dir_ + "/body.html";
  EXPECT_OK(Run({"doc", "export", "docs.nsf", unid, "Body", html}));
  const std::string htmlText = ReadFile(html);
  EXPECT_TRUE(Contains(htmlText, "Hello &lt;world&gt; &amp; more")) << htmlText;
  const std::string text = dir_ + "/body.dat";
  EXPECT_OK(Run({"doc", "export", "docs.nsf", unid, "Body", text, "--format", "text"}));
  EXPECT_TRUE(Contains(ReadFile(text), "Hello <world> & more")) << ReadFile(text);

  const std::string whole = dir_ + "/whole.txt";
  EXPECT_OK(Run({"doc", "export-doc", "docs.nsf", unid, whole}));
  const std::string wholeText = ReadFile(whole);
  EXPECT_TRUE(Contains(wholeText, "Exported") && Contains(wholeText, "Hello <world> & more")) << wholeText;

  Result notRich = Run({"doc", "export", "docs.nsf", unid, "Amount", text});
  EXPECT_EQ(notRich.exitCode, 1);
  EXPECT_TRUE(Contains(notRich.err, "item 'Amount' is number, not rich text")) << notRich.err;
  EXPECT_EQ(Run({"doc", "export", "docs.nsf", unid, "Nothing", text}).exitCode, 1);
  Result format = Run({"doc", "export", "docs.nsf", unid, "Body", text, "--format", "PDF"});
  EXPECT_EQ(format.exitCode, 2);
  EXPECT_TRUE(Contains(format.err, "unknown export format 'PDF'")) << format.err;
  const std::string nowhere = dir_ + "/missing/dir/out.html";
  Result unwritable = Run({"doc", "export-doc", "docs.nsf", unid, nowhere});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_TRUE(Contains(unwritable.err, "cannot export document " + unid)) << unwritable.err;
}

TEST_F(QuireDocCli, BadArgumentsAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"doc", "create", "docs.nsf", "Subject"}, "expected NAME=VALUE, not 'Subject'"},
      {{"doc", "create", "docs.nsf", "=x"}, "an item name is missing"},
      {{"doc", "create", "docs.nsf", "Amount:money=1"}, "unknown type 'money' for item 'Amount'"},
      {{"doc", "create", "docs.nsf", "Due:date=tomorrow"}, "'tomorrow' is not a date"},
      {{"doc", "create", "docs.nsf", "Due:date=2026-02-30"}, "is not a date"},
      {{"doc", "create", "docs.nsf", "Amount:number=1e999"}, "is not a number"},
      {{"doc", "show", "docs.nsf", "XYZ"}, "malformed UNID 'XYZ'"},
      {{"doc", "show", "docs.nsf"}, "missing UNID"},
      {{"doc", "frob", "docs.nsf"}, "unknown command 'frob'"},
  };
  for (const auto& c : cases) {
    Result result = Run(c.args);
    EXPECT_EQ(result.exitCode, 2) << c.message;
    EXPECT_TRUE(Contains(result.err, c.message)) << result.err;
    // The usage line of the command that was given, and no other.
    const std::string command = c.args[1];
    if (command == "frob") {
      EXPECT_TRUE(Contains(result.err, "Try 'quire doc --help'")) << result.err;
    } else {
      EXPECT_TRUE(Contains(result.err, "quire doc " + command + " PATH")) << result.err;
      EXPECT_FALSE(Contains(result.err, command == "show" ? "quire doc create" : "quire doc show")) << result.err;
    }
  }
  Result unknown = Run({"doc", "show", "docs.nsf", std::string(32, '0')});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(Contains(unknown.err, "no document 00000000")) << unknown.err;
  Result noDatabase = Run({"doc", "create", "missing.nsf", "Subject=x"});
  EXPECT_EQ(noDatabase.exitCode, 1);
  EXPECT_TRUE(Contains(noDatabase.err, "cannot open database 'missing.nsf'")) << noDatabase.err;
  EXPECT_TRUE(Run({"doc", "list", "docs.nsf"}).out.empty());
}

TEST_F(QuireDocCli, AccessControlIsEnforced) {
  const std::string unid = Create({"Subject=Guarded"});
  ASSERT_EQ(Run({"acl", "add", "docs.nsf", "Rita Reader", "reader"}).exitCode, 0);
  ASSERT_EQ(Run({"acl", "uniform", "docs.nsf", "on"}).exitCode, 0);

  EXPECT_OK(Run({"doc", "show", "docs.nsf", unid}, "Rita Reader"));
  Result create = Run({"doc", "create", "docs.nsf", "Subject=Mine"}, "Rita Reader");
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_TRUE(Contains(create.err, "'docs.nsf'")) << create.err;
  EXPECT_EQ(Run({"doc", "set", "docs.nsf", unid, "Subject=Changed"}, "Rita Reader").exitCode, 1);
  EXPECT_EQ(Run({"doc", "delete", "docs.nsf", unid}, "Rita Reader").exitCode, 1);
  Result show = Run({"doc", "show", "docs.nsf", unid});
  EXPECT_TRUE(Contains(ItemLine(show.out, "Subject"), "Guarded")) << show.out;
  Result list = Run({"doc", "list", "docs.nsf"});
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << list.out;
}

}  // namespace
