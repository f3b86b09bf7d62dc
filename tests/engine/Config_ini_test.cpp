// quire.ini damaged in several ways: the engine starts and says what it could not read, and
// a later write keeps every line the file had.
#include <fstream>
#include <iterator>
#include <sstream>

#include "EngineFixture.h"
#include "engine/core/Ini.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;


struct Damage {
  const char* what;
  const char* text;
  const char* userName;  // as read despite the damage
};

class DamagedIni : public ::testing::TestWithParam<Damage> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quire-ini-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("QUIRE_DATA", tmpl, 1);
    unsetenv("QUIRE_USER");
    std::ofstream(dir_ / "quire.ini", std::ios::binary) << GetParam().text;
  }
  void TearDown() override {
    HTTerm(0);
    unsetenv("QUIRE_DATA");
    std::filesystem::remove_all(dir_);
  }
  std::string iniText() {
    std::ifstream in(dir_ / "quire.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
};

TEST_P(DamagedIni, StartsWarnsAndKeepsEveryLineThroughAWrite) {
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
  char text[HT_ERROR_TEXT_CAPACITY] = {};
  HTINT severity = 0;
  ASSERT_TRUE(HTErrorGetInfo(HTFAIL_CONFIG_ERROR, &severity, text));
  EXPECT_EQ(std::string(text).rfind("quire.ini line ", 0), 0u) << text;
  char warnings[1024] = {};
  EXPECT_GE(HTQuireConfigWarnings(sizeof warnings, warnings), 1u);
  EXPECT_NE(std::string(warnings).find("quire.ini line "), std::string::npos) << warnings;

  char user[HT_USER_NAME_CAPACITY] = {};
  ASSERT_EQ(HTGetProperty(HTSESSION_USER_NAME, user), HTSUCCESS);
  EXPECT_STREQ(user, GetParam().userName);

  ASSERT_EQ(HTSetEnvironmentString("Added", "after the damage", 1), HTSUCCESS);
  const std::string after = iniText();
  std::istringstream lines(GetParam().text);
  for (std::string line; std::getline(lines, line);)
    EXPECT_NE(after.find(line + "\n"), std::string::npos) << "lost \"" << line << "\" from\n" << after;
  EXPECT_NE(after.find("Added=after the damage"), std::string::npos) << after;
  EXPECT_GE(HTQuireConfigWarnings(0, nullptr), 1u);  // the damage is still there, and still told
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DamagedIni,
    ::testing::Values(
        Damage{"HeaderWithoutBracket", "[Session\nUserName=Ann Example\n\n[Servers]\nHub=/srv/hub\n", "Ann Example"},
        Damage{"KeyBeforeAnySection", "UserName=Stray\n[Session]\nUserName=Ann Example\n[Servers]\nHub=/srv/hub\n",
               "Ann Example"},
        Damage{"LineWithoutEquals", "[Session]\nUserName=Ann Example\ngarbage here\n[Servers]\nHub=/srv/hub\n",
               "Ann Example"},
        Damage{"EmptyNamesAndKeys", "[]\nX=1\n[Session]\n=nothing\nUserName=Ann Example\n[Servers]\nHub=/srv/hub\n",
               "Ann Example"},
        Damage{"TextAfterTheHeader", "[Session] old\nUserName=Ann Example\n[Servers]\nHub=/srv/hub\n", "Ann Example"},
        Damage{"BinaryNoise", "\x01\x02\xff\xfe\n[Session]\nUserName=Ann Example\n", "Ann Example"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.what); });

TEST(EngineIni, ChangesKeepCommentsOrderAndUnknownLines) {
  IniFile ini = IniFile::parse("; mine\n[Servers]\nHub=/a\n# kept\n\n[Other]\nweird\n");
  EXPECT_EQ(ini.problems().size(), 1u);
  ini.set("Servers", "Spoke", "/b");
  ini.set("Servers", "hub", "/c");
  ini.set("New", "K", "v");
  EXPECT_EQ(ini.serialize(), "; mine\n[Servers]\nHub=/c\n# kept\nSpoke=/b\n\n[Other]\nweird\n\n[New]\nK=v\n");
  // A repeated key: the last one counts, as when the lines are read one after the other.
  IniFile twice = IniFile::parse("[S]\nA=1\n[S]\na=2\n");
  EXPECT_EQ(twice.get("S", "A"), "2");
  EXPECT_EQ(twice.entries("S").size(), 1u);
}

}  // namespace
}  // namespace quire::engine::test
