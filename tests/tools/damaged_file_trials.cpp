// Damaged database files. A small database with every kind of content (typed items, rich
// text, an attachment, a categorised view, a folder, the full-text index) is damaged at
// random offsets, trial after trial, and every read command of the quire tool, the object
// model's open, walks and searches and the C API's open are run against it. Each trial runs
// in its own process: it must end normally, whatever the damage -- no crash, and under
// AddressSanitizer no report. A command may fail, but only as a failure (exit 1, never a
// usage error), and an open that fails must say which file it could not use.
//
// QUIRE_DAMAGE_TRIALS sets the number of trials, QUIRE_DAMAGE_SEED the first trial's seed
// (each trial's damage follows from its seed, so a failing trial can be rerun alone), and
// QUIRE_DAMAGE_KEEP=DIR keeps the last trial's data directory there for a closer look.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRFolder.h"
#include "objects/QRItem.h"
#include "objects/QRSessn.h"
#include "objects/QRView.h"
#include "objects/Quiredoc.h"
#include "tools/quire/Cli.h"

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultTrials = 100;
#else
constexpr int kDefaultTrials = 300;
#endif

constexpr char kFile[] = "damaged.nsf";

// Exit codes of a trial process that found something wrong without crashing.
constexpr int kUsageErrorOnDamage = 20;
constexpr int kOpenFailedWithoutFileName = 21;
constexpr int kSetupFailed = 22;

int RunCommand(TQuireSession& session, std::vector<std::string> words) {
  std::ostringstream sink;
  quirecli::Context context{session, sink};
  quirecli::Arguments arguments(std::move(words));
  try {
    const quirecli::CommandGroup* group = quirecli::FindGroup(arguments.Next("command group"));
    if (!group) return quirecli::kExitUsage;
    return group->run(context, arguments);
  } catch (const quirecli::UsageError&) {
    return quirecli::kExitUsage;
  } catch (const std::exception&) {
    return quirecli::kExitFailure;
  }
}

void ReadAll(TQuireDocument& document) {
  for (int32_t k = 0; k < document.GetITemCount(); ++k)
    if (TQuireItem* item = document.GetItem(k)) (void)item->GetText();
}

void WalkCollection(TQuireDocCollection* collection) {
  if (!collection) return;
  const int count = collection->GetCount();
  for (int k = 1; k <= count; ++k)
    if (auto document = collection->GetNthDocument(k)) ReadAll(*document);
}

template <typename ViewLike>
void WalkView(ViewLike* view) {
  if (!view) return;
  const int count = view->GetCount();
  auto document = view->GetFirstDocument();
  for (int k = 0; k < count && document; ++k) {
    ReadAll(*document);
    document = view->GetNextDocument();
  }
}

// The body of one trial process; returns its exit code.
int Trial(const fs::path& data, const std::string& unid) {
  setenv("QUIRE_DATA", data.c_str(), 1);
  Initialize();
  if (!HTInitOK) return kSetupFailed;

  // The C API's open: a damaged file is refused with a storage or not-a-database failure
  // whose text names the file, or opens.
  HTDBHANDLE db = 0;
  const HTSTATUS opened = HTAPI.HTDatabaseOpen("", kFile, 0, &db);
  if (opened == HTSUCCESS) {
    HTAPI.HTDatabaseClose(db, 0);
  } else {
    char text[HT_ERROR_TEXT_CAPACITY] = {};
    HTINT severity = 0;
    HTAPI.HTErrorGetInfo(opened, &severity, text);
    if (std::string(text).find(kFile) == std::string::npos) return kOpenFailedWithoutFileName;
  }

  TQuireSession session;
  const std::vector<std::vector<std::string>> commands = {
      {"db", "show", kFile},
      {"db", "list"},
      {"doc", "list", kFile},
      {"doc", "show", kFile, unid},
      {"search", kFile, "Form = \"Order\" & Amount > 2"},
      {"ftsearch", kFile, "apple"},
      {"eval", kFile, "Subject + \"!\"", unid},
      {"view", "list", kFile},
      {"view", "show", kFile, "By category"},
      {"view", "key", kFile, "By category", "fruit"},
      {"folder", "show", kFile, "Picked"},
      {"acl", "show", kFile},
      {"agent", "list", kFile},
  };
  for (const auto& command : commands)
    if (RunCommand(session, command) == quirecli::kExitUsage) return kUsageErrorOnDamage;

  if (auto database = session.GetDatabase("", kFile)) {
    WalkCollection(database->AllDocuments().get());
    WalkCollection(database->Search("Amount > 1").get());
    WalkCollection(database->FTSearch("apple", 0).get());
    WalkView(database->GetView("By category").get());
    WalkView(database->GetFolder("Picked").get());
  }
  return 0;
}

// The undamaged database, made once through the quire tool as a user would; answers the
// UNID of one of its documents.
std::string MakeSample(const fs::path& data) {
  TQuireSession session;
  auto run = [&](std::vector<std::string> words) { return RunCommand(session, std::move(words)); };
  if (run({"db", "create", kFile, "--title", "Damage"}) != 0) return {};
  const char* kinds[] = {"fruit", "tools", "paper"};
  for (int k = 0; k < 24; ++k) {
    const std::string n = std::to_string(k);
    run({"doc", "create", kFile, "--form", "Order", "Subject=apple order " + n, "Category=" + std::string(kinds[k % 3]),
         "Amount:number=" + n, "Tags:list=red,green," + n, "Due:date=2024-03-" + std::to_string(1 + k % 28),
         "Body:rich=Some <b>rich</b> text " + n});
  }
  const fs::path design = data / "view.json";
  std::ofstream(design) << R"({"name": "By category", "selection": "Form = \"Order\"", "columns": [)"
                        << R"({"title": "Category", "item": "Category", "categorized": true},)"
                        << R"({"title": "Subject", "item": "Subject", "sort": "ascending"},)"
                        << R"({"title": "Amount", "item": "Amount", "total": "sum"}]})";
  if (run({"view", "create", kFile, design.string()}) != 0) return {};
  if (run({"folder", "create", kFile, "Picked", "--from", "By category"}) != 0) return {};
  if (run({"ftindex", "create", kFile}) != 0) return {};

  auto database = session.GetDatabase("", kFile);
  if (!database) return {};
  auto all = database->AllDocuments();
  auto first = all ? all->GetFirstDocument() : nullptr;
  if (!first) return {};
  const std::string unid = first->GetUniversalID();
  const fs::path attachment = data / "note.txt";
  std::ofstream(attachment) << "an attached apple note\n";
  run({"doc", "attach", kFile, unid, attachment.string()});
  run({"folder", "add", kFile, "Picked", unid});
  return unid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Damage(const fs::path& file, unsigned seed) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(f.tellg());
  std::mt19937 rng(seed);
  const int flips = 1 + int(rng() % 8);
  for (int k = 0; k < flips; ++k) {
    const uint64_t at = rng() % size;
    f.seekg(std::streamoff(at));
    char byte = 0;
    f.read(&byte, 1);
    byte = char(byte ^ char(1 + rng() % 255));
    f.seekp(std::streamoff(at));
    f.write(&byte, 1);
  }
}

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

TEST(DamagedFile, EveryReadEndsInDataOrAClearError) {
  char pattern[] = "/tmp/quire-damage-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  const fs::path pristine = root / "pristine", data = root / "data";
  fs::create_directories(pristine);

  // Made in a process of its own: the library loads once per process, and each trial needs
  // a fresh one.
  const fs::path unidFile = root / "unid";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QUIRE_DATA", pristine.c_str(), 1);
    Initialize();
    const std::string unid = HTInitOK ? MakeSample(pristine) : std::string();
    std::ofstream(unidFile) << unid;
    std::_Exit(unid.empty() ? kSetupFailed : 0);
  }
  ASSERT_EQ(Wait(pid), 0) << "the sample database could not be made";
  std::string unid;
  std::ifstream(unidFile) >> unid;
  ASSERT_EQ(unid.size(), 32u);

  const int trials = EnvInt("QUIRE_DAMAGE_TRIALS", kDefaultTrials);
  const unsigned firstSeed = unsigned(EnvInt("QUIRE_DAMAGE_SEED", int(std::random_device{}() % 1000000)));
  int opened = 0;
  for (int trial = 0; trial < trials; ++trial) {
    const unsigned seed = firstSeed + unsigned(trial);
    fs::remove_all(data);
    fs::copy(pristine, data, fs::copy_options::recursive);
    for (const char* suffix : {"-wal", "-shm", "-gate"}) fs::remove(data / (std::string(kFile) + suffix));
    Damage(data / kFile, seed);
    std::fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      // Output of the commands is not judged; only how the process ends.
      if (std::freopen("/dev/null", "w", stderr)) {
      }
      std::_Exit(Trial(data, unid));
    }
    const int code = Wait(pid);
    EXPECT_EQ(code, 0) << "trial with QUIRE_DAMAGE_SEED=" << seed << " QUIRE_DAMAGE_TRIALS=1 ended with "
                       << (code >= 128 ? "signal " + std::to_string(code - 128) : "code " + std::to_string(code));
    if (code == 0) ++opened;
    if (::testing::Test::HasFailure() && trial > 20) break;  // enough to go on
  }
  if (const char* keep = std::getenv("QUIRE_DAMAGE_KEEP")) fs::copy(data, keep, fs::copy_options::recursive);
  std::printf("[ figures  ] %d damaged-file trials from seed %u, %d ended cleanly\n", trials, firstSeed, opened);
  fs::remove_all(root);
}

}  // namespace
