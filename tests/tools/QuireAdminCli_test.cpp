// The administration commands of the quire tool, run as real processes: backup while another
// process writes, restore, copy, compaction, bulk export and import, deleting designs and
// directory entries, servers, and the JSON output of every listing parsed back.
#include <nlohmann/json.hpp>
#include <poll.h>

#include <cmath>
#include <cstring>
#include <set>

#include "CliRunner.h"

namespace quiretest {
namespace {

using Json = nlohmann::json;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRoundTripDocuments = 1000;  // the sanitizers make each document many times dearer
#else
constexpr int kRoundTripDocuments = 10000;
#endif

// One document of every item type; some carry attachments with bytes of every value, some
// are responses, and the numbers are the kind that show binary noise.
std::string SampleLine(int i) {
  Json items = Json::array();
  items.push_back({{"name", "Form"}, {"type", "text"}, {"value", "Order"}});
  items.push_back({{"name", "Subject"}, {"type", "text"}, {"value", "Order " + std::to_string(i) + " \xC3\xA9t\xC3\xA9 \"quoted\"\n2nd line"}});
  items.push_back({{"name", "Amount"}, {"type", "number"}, {"value", 0.1 * i + 0.2}});
  items.push_back({{"name", "Due"}, {"type", "date"}, {"value", "2026-" + std::to_string(1 + i % 12) + "-0" + std::to_string(1 + i % 9) + "T10:" + std::to_string(10 + i % 50) + ":05"}});
  items.push_back({{"name", "Tags"}, {"type", "list"}, {"value", {"a" + std::to_string(i % 7), "", "b"}}});
  items.push_back({{"name", "Scores"}, {"type", "numbers"}, {"value", {1.0 / 3.0, -2.5, 1e21}}});
  items.push_back({{"name", "Dates"}, {"type", "dates"}, {"value", {"2024-02-29", "1999-12-31T23:59:59"}}});
  items.push_back({{"name", "Body"}, {"type", "rich"}, {"value", "First paragraph\nSecond " + std::to_string(i)}});
  items.push_back({{"name", "Rule"}, {"type", "formula"}, {"value", "Amount * 2"}});
  items.push_back({{"name", "Editors"}, {"type", "list"}, {"value", {"Cli Admin"}}, {"flags", 0x20 | 0x40}});
  char unid[33];
  std::snprintf(unid, sizeof unid, "%032X", i + 1);
  Json line{{"unid", unid}, {"items", items}};
  if (i % 10 == 9) {
    char parent[33];
    std::snprintf(parent, sizeof parent, "%032X", i);
    line["parent"] = parent;
  }
  if (i % 25 == 0) {
    std::string bytes;
    for (int b = 0; b < 300 + i % 100; ++b) bytes += char((b * 7 + i) & 0xFF);
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (size_t k = 0; k < bytes.size(); k += 3) {
      const uint32_t n = uint32_t(uint8_t(bytes[k])) << 16 | (k + 1 < bytes.size() ? uint32_t(uint8_t(bytes[k + 1])) << 8 : 0) |
                         (k + 2 < bytes.size() ? uint32_t(uint8_t(bytes[k + 2])) : 0);
      encoded += kBase64[n >> 18 & 63];
      encoded += kBase64[n >> 12 & 63];
      encoded += k + 1 < bytes.size() ? kBase64[n >> 6 & 63] : '=';
      encoded += k + 2 < bytes.size() ? kBase64[n & 63] : '=';
    }
    line["attachments"] = Json::array({{{"name", "data-" + std::to_string(i) + ".bin"}, {"data", encoded}}});
  }
  return line.dump() + "\n";
}

// The exported lines without the save times, which differ between two imports by nature.
std::vector<Json> WithoutTimes(const std::string& jsonLines) {
  std::vector<Json> documents;
  std::istringstream lines(jsonLines);
  for (std::string line; std::getline(lines, line);) {
    Json document = Json::parse(line);
    document.erase("created");
    document.erase("modified");
    documents.push_back(document);
  }
  return documents;
}

const Json* Item(const Json& document, const std::string& name) {
  for (const Json& item : document["items"])
    if (item["name"] == name) return &item;
  return nullptr;
}

class QuireAdminCli : public CliTest {};

TEST_F(QuireAdminCli, ExportImportRoundTripOfEveryItemTypeWithAttachments) {
  std::string source;
  for (int i = 0; i < kRoundTripDocuments; ++i) source += SampleLine(i);
  WriteFile(dir_ + "/source.jsonl", source);
  ASSERT_OK(Run({"db", "create", "a.nsf"}));
  ASSERT_OK(Run({"db", "create", "b.nsf"}));
  Result imported = Run({"doc", "import", "a.nsf", dir_ + "/source.jsonl"});
  ASSERT_OK(imported);
  EXPECT_TRUE(Contains(imported.out, "imported " + std::to_string(kRoundTripDocuments) + " documents")) << imported.out;

  ASSERT_OK(Run({"doc", "export", "a.nsf", dir_ + "/first.jsonl"}));
  ASSERT_OK(Run({"doc", "import", "b.nsf", dir_ + "/first.jsonl"}));
  Result second = Run({"doc", "export", "b.nsf"});  // to standard output
  ASSERT_OK(second);
  const std::vector<Json> first = WithoutTimes(ReadFile(dir_ + "/first.jsonl"));
  ASSERT_EQ(first.size(), size_t(kRoundTripDocuments));
  EXPECT_TRUE(first == WithoutTimes(second.out));

  // What was imported is what was given: spot checks of each kind of value.
  const Json& doc9 = first[9];
  EXPECT_EQ(doc9["unid"], "0000000000000000000000000000000A");
  EXPECT_EQ(doc9["parent"], "00000000000000000000000000000009");
  EXPECT_EQ((*Item(doc9, "Amount"))["value"].get<double>(), 0.1 * 9 + 0.2);  // every bit kept
  EXPECT_EQ((*Item(doc9, "Scores"))["value"][2].get<double>(), 1e21);
  EXPECT_EQ((*Item(doc9, "Tags"))["value"], Json({"a2", "", "b"}));
  EXPECT_EQ((*Item(doc9, "Dates"))["value"][0], "2024-02-29");
  EXPECT_EQ((*Item(doc9, "Due"))["value"], "2026-10-01T10:19:05.00");
  EXPECT_EQ((*Item(doc9, "Body"))["type"], "rich");
  EXPECT_TRUE(Contains((*Item(doc9, "Body"))["value"].get<std::string>(), "Second 9"));
  EXPECT_EQ((*Item(doc9, "Editors"))["flags"], 0x60);
  EXPECT_EQ((*Item(doc9, "Subject"))["value"], Json::parse(SampleLine(9))["items"][1]["value"]);
  const Json& doc25 = first[25];
  ASSERT_EQ(doc25["attachments"].size(), 1u);
  EXPECT_EQ(doc25["attachments"][0]["data"], Json::parse(SampleLine(25))["attachments"][0]["data"]);
  EXPECT_EQ(doc25["attachments"][0]["size"], 325);

  // Importing the same documents again would duplicate UNIDs: refused, with the line named.
  Result again = Run({"doc", "import", "b.nsf", dir_ + "/first.jsonl"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(Contains(again.err, "line 1: cannot keep UNID")) << again.err;
  // New UNIDs take the same lines in; a few hundred of them show it as well as all would.
  std::string some;
  for (int i = 0; i < 300; ++i) some += SampleLine(i);
  WriteFile(dir_ + "/some.jsonl", some);
  Result renamed = Run({"doc", "import", "b.nsf", dir_ + "/some.jsonl", "--new-unids"});
  EXPECT_EQ(renamed.exitCode, 0) << renamed.err;
  EXPECT_TRUE(Contains(renamed.out, "imported 300 documents")) << renamed.out;
}

TEST_F(QuireAdminCli, ImportRefusesBadLinesClearly) {
  ASSERT_OK(Run({"db", "create", "a.nsf"}));
  const std::pair<std::string, std::string> cases[] = {
      {"{\"items\": [{\"name\": \"X\", \"type\": \"number\", \"value\": \"ten\"}]}", "\"value\" must be a number"},
      {"{\"items\": [{\"name\": \"X\", \"type\": \"money\", \"value\": 1}]}", "unknown type 'money'"},
      {"{\"items\": [{\"name\": \"X\", \"type\": \"date\", \"value\": \"soon\"}]}", "holds no date"},
      {"{\"items\": [{\"name\": \"X\", \"type\": \"rich\", \"value\": \"\", \"data\": \"@@@\"}]}", "is not base64"},
      {"{\"attachments\": [{\"name\": \"a\", \"data\": \"!\"}]}", "is not base64"},
      {"[1, 2]", "expected a document object"},
      {"{\"items\": [", "is not JSON"},
      // Zero-terminated on the way to the engine: "a" would be stored without a word.
      {"{\"items\": [{\"name\": \"X\", \"type\": \"text\", \"value\": \"a\\u0000b\"}]}", "item 'X' holds a NUL"},
      {"{\"items\": [{\"name\": \"X\\u0000Y\", \"type\": \"text\", \"value\": \"a\"}]}", "\"name\" holds a NUL"},
      {"{\"attachments\": [{\"name\": \"a\\u0000.exe\", \"data\": \"QQ==\"}]}", "\"name\" holds a NUL"},
  };
  for (const auto& [line, message] : cases) {
    WriteFile(dir_ + "/bad.jsonl", "{\"items\": []}\n" + line + "\n");
    Result result = Run({"doc", "import", "a.nsf", dir_ + "/bad.jsonl"});
    EXPECT_EQ(result.exitCode, 1) << line;
    EXPECT_TRUE(Contains(result.err, "line 2")) << result.err;
    EXPECT_TRUE(Contains(result.err, message)) << result.err;
  }
}

TEST_F(QuireAdminCli, BackupWhileAnotherProcessWritesThenRestoreAndCompare) {
  ASSERT_OK(Run({"db", "create", "live.nsf", "--title", "Live"}));
  std::string seed, more;
  for (int i = 0; i < 200; ++i) seed += SampleLine(i);
  for (int i = 200; i < 3200; ++i) more += SampleLine(i);
  WriteFile(dir_ + "/seed.jsonl", seed);
  WriteFile(dir_ + "/more.jsonl", more);
  ASSERT_OK(Run({"doc", "import", "live.nsf", dir_ + "/seed.jsonl"}));

  // A second process writes while the backup runs.
  const pid_t writer = Start({"doc", "import", "live.nsf", dir_ + "/more.jsonl"}, "writer");
  usleep(200 * 1000);
  Result backup = Run({"db", "backup", "live.nsf", dir_ + "/live.backup"});
  Result written = Wait(writer, "writer");
  ASSERT_OK(backup);
  ASSERT_OK(written);
  EXPECT_EQ(Run({"db", "backup", "live.nsf", dir_ + "/live.backup"}).exitCode, 1);  // never overwrites
  // It holds what the database holds, so it is as private as the database file.
  namespace fs = std::filesystem;
  const auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(dir_ + "/live.backup").permissions() & fs::perms::all, ownerOnly);

  // The backup is one consistent snapshot: every document in it is whole and equal to the
  // document of the live database, and it holds at least what was there before.
  ASSERT_OK(Run({"db", "restore", dir_ + "/live.backup", "restored.nsf"}));
  EXPECT_EQ(fs::status(data_ + "/restored.nsf").permissions() & fs::perms::all, ownerOnly);
  Result restoredShow = Run({"db", "show", "restored.nsf", "--json"});
  ASSERT_OK(restoredShow);
  EXPECT_EQ(Json::parse(restoredShow.out)["title"], "Live");
  const std::vector<Json> live = WithoutTimes(Run({"doc", "export", "live.nsf"}).out);
  const std::vector<Json> restored = WithoutTimes(Run({"doc", "export", "restored.nsf"}).out);
  ASSERT_EQ(live.size(), 3200u);
  ASSERT_GE(restored.size(), 200u);
  ASSERT_LE(restored.size(), live.size());
  std::map<std::string, const Json*> byUnid;
  for (const Json& document : live) byUnid[document["unid"]] = &document;
  for (const Json& document : restored) {
    ASSERT_TRUE(byUnid.count(document["unid"])) << document["unid"];
    EXPECT_TRUE(document == *byUnid[document["unid"]]) << document["unid"];
  }

  // Restoring over a database needs --force, and then gives the backup's content.
  Result refused = Run({"db", "restore", dir_ + "/live.backup", "live.nsf"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Contains(refused.err, "give --force")) << refused.err;
  ASSERT_OK(Run({"db", "restore", dir_ + "/live.backup", "live.nsf", "--force"}));
  EXPECT_EQ(WithoutTimes(Run({"doc", "export", "live.nsf"}).out).size(), restored.size());
  WriteFile(dir_ + "/not-a-database", "hello");
  Result foreign = Run({"db", "restore", dir_ + "/not-a-database", "other.nsf"});
  EXPECT_EQ(foreign.exitCode, 1);
  EXPECT_TRUE(Contains(foreign.err, "not a database")) << foreign.err;
}

TEST_F(QuireAdminCli, CopyCompactAndDeleteDatabases) {
  ASSERT_OK(Run({"db", "create", "orig.nsf", "--title", "Original"}));
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += SampleLine(i);
  WriteFile(dir_ + "/docs.jsonl", lines);
  ASSERT_OK(Run({"doc", "import", "orig.nsf", dir_ + "/docs.jsonl"}));
  ASSERT_OK(Run({"db", "copy", "orig.nsf", "copies/copy.nsf"}));
  ASSERT_OK(Run({"db", "copy", "orig.nsf", "replica.nsf", "--replica"}));
  EXPECT_EQ(Run({"db", "copy", "orig.nsf", "replica.nsf"}).exitCode, 1);  // exists
  const auto show = [&](const std::string& path) { return Json::parse(Run({"db", "show", path, "--json"}).out); };
  const Json original = show("orig.nsf"), copy = show("copies/copy.nsf"), replica = show("replica.nsf");
  EXPECT_EQ(copy["title"], "Original");
  EXPECT_NE(copy["replicaId"], original["replicaId"]);
  EXPECT_EQ(replica["replicaId"], original["replicaId"]);
  EXPECT_EQ(std::filesystem::status(data_ + "/copies/copy.nsf").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(WithoutTimes(Run({"doc", "export", "copies/copy.nsf"}).out).size(), 300u);

  // Deleting most documents leaves free space that compaction gives back.
  Json listed = Json::parse(Run({"doc", "list", "orig.nsf", "--json"}).out);
  ASSERT_EQ(listed.size(), 300u);
  for (size_t k = 0; k < 250; ++k) ASSERT_OK(Run({"doc", "delete", "orig.nsf", listed[k]["unid"].get<std::string>()}));
  Result compacted = Run({"db", "compact", "orig.nsf"});
  ASSERT_OK(compacted);
  long long before = 0, after = 0;
  ASSERT_EQ(std::sscanf(compacted.out.c_str(), "compacted orig.nsf: %lld -> %lld bytes", &before, &after), 2)
      << compacted.out;
  EXPECT_LT(after, before);
  EXPECT_EQ(Json::parse(Run({"doc", "list", "orig.nsf", "--json"}).out).size(), 50u);

  ASSERT_OK(Run({"db", "delete", "copies/copy.nsf"}));
  EXPECT_EQ(Run({"db", "show", "copies/copy.nsf"}).exitCode, 1);
  EXPECT_EQ(Run({"db", "delete", "copies/copy.nsf"}).exitCode, 1);
}

TEST_F(QuireAdminCli, DesignsDirectoryEntriesAndServersAreRemoved) {
  ASSERT_OK(Run({"db", "create", "d.nsf"}));
  WriteFile(dir_ + "/view.json", R"({"name": "All", "columns": [{"title": "Subject", "item": "Subject"}]})");
  ASSERT_OK(Run({"view", "create", "d.nsf", dir_ + "/view.json"}));
  ASSERT_OK(Run({"folder", "create", "d.nsf", "Keep", "--from", "All"}));
  ASSERT_OK(Run({"agent", "create", "d.nsf", "Touch", "FIELD Seen := 1"}));
  Json designs = Json::parse(Run({"view", "list", "d.nsf", "--json"}).out);
  EXPECT_EQ(designs.size(), 2u);
  ASSERT_OK(Run({"view", "delete", "d.nsf", "All"}));
  ASSERT_OK(Run({"folder", "delete", "d.nsf", "Keep"}));
  ASSERT_OK(Run({"agent", "delete", "d.nsf", "Touch"}));
  EXPECT_EQ(Json::parse(Run({"view", "list", "d.nsf", "--json"}).out), Json::array());
  EXPECT_EQ(Json::parse(Run({"agent", "list", "d.nsf", "--json"}).out), Json::array());
  Result missing = Run({"view", "delete", "d.nsf", "All"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Contains(missing.err, "no view 'All'")) << missing.err;

  ASSERT_OK(Run({"names", "create"}));
  ASSERT_OK(Run({"names", "person", "add", "Ann Lee", "--mailfile", "mail/ann.nsf", "--shortname", "alee"}));
  ASSERT_OK(Run({"names", "group", "add", "Sales", "Ann Lee"}));
  Json names = Json::parse(Run({"names", "list", "--json"}).out);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0]["kind"], "person");
  EXPECT_EQ(names[0]["mailFile"], "mail\\ann.nsf");
  Result mail = Run({"mail", "send", "--to", "alee, Nobody Known", "--subject", "Hi", "--body", "x"});
  EXPECT_EQ(mail.exitCode, 1);
  EXPECT_TRUE(Contains(mail.err, "could not deliver to Nobody Known")) << mail.err;
  EXPECT_FALSE(Contains(mail.err, "alee")) << mail.err;
  ASSERT_OK(Run({"names", "delete", "ALEE"}));
  EXPECT_EQ(Json::parse(Run({"names", "list", "--json"}).out).size(), 1u);
  EXPECT_EQ(Run({"names", "delete", "Ann Lee"}).exitCode, 1);

  ASSERT_OK(Run({"server", "add", "Hub", "hub"}));
  Result twice = Run({"server", "add", "hub", "elsewhere"});
  EXPECT_EQ(twice.exitCode, 1);
  EXPECT_TRUE(Contains(twice.err, "--force")) << twice.err;
  ASSERT_OK(Run({"server", "add", "hub", "elsewhere", "--force"}));
  EXPECT_EQ(Json::parse(Run({"servers", "--json"}).out).size(), 2u);
  ASSERT_OK(Run({"server", "remove", "HUB"}));
  EXPECT_EQ(Json::parse(Run({"servers", "--json"}).out).size(), 1u);
  EXPECT_EQ(Run({"server", "remove", "Hub"}).exitCode, 1);
  Json info = Json::parse(Run({"info", "--json"}).out);
  EXPECT_EQ(info["user"], "Cli Admin");
  EXPECT_EQ(std::filesystem::canonical(info["dataDirectory"].get<std::string>()), std::filesystem::canonical(data_));
}

// The progress line goes to a terminal only: on a pseudo-terminal an import and a view build
// show count, share and rate; into a file they write nothing but their result.
TEST_F(QuireAdminCli, ProgressShowsOnATerminalOnly) {
  std::string lines;
  for (int i = 0; i < 1500; ++i) lines += SampleLine(i);
  WriteFile(dir_ + "/docs.jsonl", lines);
  WriteFile(dir_ + "/view.json", R"({"name": "All", "columns": [{"title": "Subject", "item": "Subject", "sort": "ascending"}]})");
  ASSERT_OK(Run({"db", "create", "a.nsf"}));
  ASSERT_OK(Run({"db", "create", "b.nsf"}));

  Result quiet = Run({"doc", "import", "a.nsf", dir_ + "/docs.jsonl"});
  ASSERT_OK(quiet);
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(Contains(quiet.out, "imported 1500 documents")) << quiet.out;

  const auto onTerminal = [&](const std::vector<std::string>& args) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    std::vector<std::string> words = Words(args);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ + "/tty.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, binary_.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Read while it runs: a full terminal buffer would stop it.
    std::string seen;
    char buffer[4096];
    for (bool running = true; running;) {
      running = waitpid(pid, nullptr, WNOHANG) == 0;
      pollfd ready{master, POLLIN, 0};
      while (poll(&ready, 1, running ? 50 : 0) > 0 && (ready.revents & POLLIN)) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) break;
        seen.append(buffer, size_t(got));
      }
    }
    close(master);
    return seen;
  };
  const std::string import = onTerminal({"doc", "import", "b.nsf", dir_ + "/docs.jsonl"});
  EXPECT_TRUE(Contains(import, "\r\033[Kimport: 1 / 1500 (0%)")) << import;
  EXPECT_TRUE(Contains(ReadFile(dir_ + "/tty.out"), "imported 1500 documents"));
  const std::string view = onTerminal({"view", "create", "b.nsf", dir_ + "/view.json"});
  EXPECT_TRUE(Contains(view, "view index All: 0 / 1500 (0%)")) << view;
  // A finished line is wiped, so the terminal ends on a clean line.
  EXPECT_TRUE(view.size() >= 4 && view.compare(view.size() - 4, 4, "\r\033[K") == 0) << view;

  Result backup = Run({"db", "backup", "b.nsf", dir_ + "/b.backup"});
  ASSERT_OK(backup);
  EXPECT_FALSE(Contains(backup.err, "\033")) << backup.err;
}

TEST_F(QuireAdminCli, JsonOutputParsesBackWithTheTablesFacts) {
  ASSERT_OK(Run({"demo"}));
  Json dbs = Json::parse(Run({"db", "list", "--json"}).out);
  ASSERT_FALSE(dbs.empty());
  EXPECT_EQ(dbs[0]["name"], "sample.nsf");
  EXPECT_EQ(dbs[0]["title"], "Quire Sample");
  Json db = Json::parse(Run({"db", "show", "sample.nsf", "--json"}).out);
  EXPECT_EQ(db["fullTextIndexed"], true);
  EXPECT_EQ(db["created"].get<std::string>().size(), 19u);

  // Flags as they take effect: a Reader creates nothing whatever its flags say.
  Json acl = Json::parse(Run({"acl", "show", "sample.nsf", "--json"}).out);
  for (const Json& entry : acl["entries"]) {
    if (entry["name"] == "Ann Reader") {
      EXPECT_EQ(entry["rights"], Json::array());
    }
    if (entry["name"] == "Bob Editor") {
      EXPECT_EQ(entry["roles"], Json({"[Editors]"}));
    }
  }
  EXPECT_EQ(acl["roles"].size(), 3u);

  Json view = Json::parse(Run({"view", "show", "sample.nsf", "By Customer", "--json"}).out);
  EXPECT_EQ(view["columns"], Json({"Customer", "Product", "Amount", "Subject"}));
  EXPECT_EQ(view["rows"].size(), 307u);
  EXPECT_EQ(view["rows"].back()["kind"], "total");
  EXPECT_EQ(view["rows"].back()["cells"][2], "82787.5");
  EXPECT_EQ(view["rows"][0]["kind"], "category");
  EXPECT_EQ(view["rows"][1]["unid"].get<std::string>().size(), 32u);
  Json key = Json::parse(Run({"view", "key", "sample.nsf", "By Customer", "Cobalt Labs", "--json"}).out);
  EXPECT_EQ(key["matches"], 50);  // the orders of that customer
  EXPECT_EQ(key["rows"].size(), 50u);
  Json folder = Json::parse(Run({"folder", "show", "sample.nsf", "Follow Up", "--json"}).out);
  EXPECT_FALSE(folder["rows"].empty());

  Json found = Json::parse(Run({"ftsearch", "sample.nsf", "urgent AND delivery", "--json"}).out);
  EXPECT_EQ(found.size(), 60u);
  Json selected = Json::parse(Run({"search", "sample.nsf", "Form = \"Comment\"", "--json"}).out);
  ASSERT_FALSE(selected.empty());
  EXPECT_EQ(selected[0]["form"], "Comment");
  Json document = Json::parse(Run({"doc", "show", "sample.nsf", selected[0]["unid"], "--json"}).out);
  EXPECT_EQ(document["unid"], selected[0]["unid"]);
  EXPECT_EQ(document["parent"].get<std::string>().size(), 32u);
  Json docs = Json::parse(Run({"doc", "list", "sample.nsf", "--json"}).out);
  EXPECT_EQ(docs.size(), 334u);
  EXPECT_EQ(Json::parse(Run({"agent", "list", "sample.nsf", "--json"}).out), Json::array());

  ASSERT_OK(Run({"names", "create"}));
  ASSERT_OK(Run({"names", "person", "add", "Cli Admin", "--mailfile", "mail/admin.nsf"}));
  ASSERT_OK(Run({"mail", "send", "--to", "Cli Admin", "--subject", "Report 0.1", "--body", "b"}));
  Json mail = Json::parse(Run({"mail", "list", "mail/admin.nsf", "--json"}).out);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0]["subject"], "Report 0.1");
  EXPECT_EQ(mail[0]["failureReport"], false);
}

}  // namespace
}  // namespace quiretest
