// Internal building blocks that the C API reaches only indirectly: handles, the ini file,
// list cursors, path resolution, item value forms and nested transactions.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/core/Handles.h"
#include "engine/core/Ini.h"
#include "engine/core/ListCursor.h"
#include "engine/core/Paths.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

TEST(EngineHandles, StaleAndForeignHandlesFail) {
  auto& table = HandleTable::instance();
  auto obj = std::make_shared<int>(42);
  uint32_t h = table.add(HandleKind::Document, obj);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(*table.get<int>(HandleKind::Document, h), 42);
  EXPECT_EQ(table.find(HandleKind::Index, h), nullptr);
  EXPECT_NE(table.remove(HandleKind::Document, h), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, h), nullptr);
  // The slot is reused only with a new generation, so the old handle stays dead.
  std::vector<uint32_t> again;
  for (int i = 0; i < 64; ++i) again.push_back(table.add(HandleKind::Document, obj));
  for (uint32_t n : again) EXPECT_NE(n, h);
  EXPECT_EQ(table.find(HandleKind::Document, h), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, 0), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, 0xFFFFFFFF), nullptr);
  for (uint32_t n : again) table.remove(HandleKind::Document, n);
}

TEST(EngineIni, RoundTripsEscapesAndIgnoresCaseOfKeys) {
  IniFile ini = IniFile::parse("; comment\n[Session]\nUserName = Ann\n\n[Environment]\nA=1\r\nweird line\n");
  EXPECT_EQ(ini.get("session", "username"), "Ann");
  ini.set("Environment", "a", "x\\y\nz");
  IniFile back = IniFile::parse(ini.serialize());
  EXPECT_EQ(back.get("Environment", "A"), "x\\y\nz");
  EXPECT_EQ(back.entries("Environment").size(), 1u);
  EXPECT_TRUE(back.remove("Environment", "A"));
  EXPECT_FALSE(back.get("Environment", "A"));
}

TEST(EngineListCursor, ModesWalkTheSnapshot) {
  ListCursor<int> c;
  int loads = 0;
  auto load = [&] {
    ++loads;
    return std::vector<int>{1, 2, 3};
  };
  int v = 0;
  EXPECT_EQ(c.step(HTLIST_CURRENT, load, v), HTFAIL_END_OF_LIST);
  EXPECT_EQ(c.step(HTLIST_FIRST, load, v), HTSUCCESS);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTSUCCESS);
  EXPECT_EQ(c.step(HTLIST_CURRENT, load, v), HTSUCCESS);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTSUCCESS);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTFAIL_END_OF_LIST);
  EXPECT_EQ(c.step(HTLIST_PREVIOUS, load, v), HTSUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(c.step(HTLIST_LAST, load, v), HTSUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(loads, 2);
  EXPECT_EQ(c.step(42, load, v), HTFAIL_INVALID_ARGUMENT);
}

TEST(EngineCodec, ValueFormsRoundTripAndRejectTruncation) {
  store::Blob list = store::codec::encodeTextList({"a", "", "Grüße"});
  std::vector<std::string> back;
  ASSERT_TRUE(store::codec::decodeTextList(list, back));
  EXPECT_EQ(back, (std::vector<std::string>{"a", "", "Grüße"}));
  EXPECT_EQ(store::codec::textListCount(list.data()), 3u);
  const char* text;
  uint32_t len;
  ASSERT_TRUE(store::codec::textListEntry(list.data(), 2, text, len));
  EXPECT_EQ(std::string(text), "Grüße");  // entries are terminated in place
  EXPECT_FALSE(store::codec::textListEntry(list.data(), 3, text, len));
  list.pop_back();
  EXPECT_FALSE(store::codec::decodeTextList(list, back));
  std::vector<double> nums;
  EXPECT_TRUE(store::codec::decodeNumberList(store::codec::encodeNumberList({1.5, -2}), nums));
  EXPECT_EQ(nums, (std::vector<double>{1.5, -2}));
  store::Blob bad = {255, 255, 255, 255};
  EXPECT_FALSE(store::codec::decodeNumberList(bad, nums));
}

TEST(EngineStore, NestedTransactionsRollBackOnlyTheirPart) {
  char tmpl[] = "/tmp/quire-store-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::path dir(tmpl);
  {
    auto conn = store::openSqlite(dir / "t.nsf", {.create = true});
    store::applySchema(*conn);
    store::Transaction outer(*conn);
    conn->exec("INSERT INTO properties VALUES('a', 1)");
    {
      store::Transaction inner(*conn);
      conn->exec("INSERT INTO properties VALUES('b', 2)");
    }  // not committed: rolled back
    outer.commit();
    auto st = conn->prepare("SELECT group_concat(name) FROM properties");
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->text(0), "a");
  }
  std::filesystem::remove_all(dir);
}

TEST(EnginePaths, ResolvesInsideAndRefusesEscapes) {
  char tmpl[] = "/tmp/quire-paths-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::path root = std::filesystem::canonical(tmpl);
  std::filesystem::create_directories(root / "Mail");
  paths::Resolved r;
  ASSERT_EQ(paths::resolve(root, "mail\\x.nsf", r), HTSUCCESS);
  EXPECT_EQ(r.apiPath, "Mail\\x.nsf");
  ASSERT_EQ(paths::resolve(root, "mail\\..", r), HTSUCCESS);
  EXPECT_EQ(r.apiPath, "");
  EXPECT_EQ(paths::resolve(root, "mail\\..\\..", r), HTFAIL_PATH_OUTSIDE);
  EXPECT_EQ(paths::resolve(root, std::string(root.parent_path()) + "/other", r), HTFAIL_PATH_OUTSIDE);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace quire::engine::test
