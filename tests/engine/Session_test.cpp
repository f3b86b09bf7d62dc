// Initialisation, session properties, environment strings, international settings,
// translation and error texts through the C API.
#include <cstring>
#include <fstream>

#include "EngineFixture.h"
#include "engine/core/Status.h"

namespace quire::engine::test {
namespace {

using SessionTest = EngineTest;

TEST(EngineInit, RefusesOtherMajorVersionsAndAcceptsOlder4x) {
  char tmpl[] = "/tmp/quire-init-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  setenv("QUIRE_DATA", tmpl, 1);
  HTUINT state = 7;
  EXPECT_EQ(_HTInit(0x00050000, 0, 0, &state), HTFAIL_BAD_VERSION);
  EXPECT_EQ(state, 0u);
  EXPECT_EQ(_HTInit(0x00030000, 0, 0, nullptr), HTFAIL_BAD_VERSION);
  char version[HT_VERSION_CAPACITY];
  EXPECT_EQ(HTGetProperty(HTSESSION_NOTES_VERSION, version), HTFAIL_NOT_INITIALIZED);
  EXPECT_EQ(_HTInit(0x00040000, 0, 0, &state), HTSUCCESS);
  EXPECT_EQ(state, 1u);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(tmpl) / "quire.ini"));
  EXPECT_EQ(HTTerm(8), HTSUCCESS);
  EXPECT_EQ(HTTerm(8), HTFAIL_NOT_INITIALIZED);
  std::filesystem::remove_all(tmpl);
  unsetenv("QUIRE_DATA");
}

TEST(EngineInit, UnusableDataDirectoryIsAConfigError) {
  setenv("QUIRE_DATA", "/proc/quire-cannot-exist/data", 1);
  EXPECT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTFAIL_CONFIG_ERROR);
  unsetenv("QUIRE_DATA");
}

TEST_F(SessionTest, TermClosesEveryHandle) {
  HTDBHANDLE db = createAndOpen("a.nsf");
  ASSERT_NE(db, 0u);
  ASSERT_EQ(HTTerm(0), HTSUCCESS);
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
  char title[HT_TITLE_CAPACITY];
  EXPECT_EQ(HTDatabaseGetProperty(db, HTDATABASE_TITLE, title), HTFAIL_INVALID_HANDLE);
}

TEST_F(SessionTest, VersionAndFixedProperties) {
  char version[HT_VERSION_CAPACITY];
  ASSERT_EQ(HTGetAPILibraryVersion(version), HTSUCCESS);
  EXPECT_GT(std::strlen(version), 0u);
  ASSERT_EQ(HTGetProperty(HTSESSION_NOTES_VERSION, version), HTSUCCESS);
  EXPECT_NE(std::string(version).find("Release"), std::string::npos);
  HTUINT onServer = 77;
  EXPECT_EQ(HTGetProperty(HTSESSION_IS_ON_SERVER, &onServer), HTFAIL_NOT_ON_SERVER);
  EXPECT_EQ(onServer, 0u);
  HTUINT value;
  EXPECT_EQ(HTGetProperty(99, &value), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTSetProperty(HTSESSION_USER_NAME, "x"), HTFAIL_UNKNOWN_PROPERTY);
  EXPECT_EQ(HTGetProperty(HTSESSION_STRICT_BIND, nullptr), HTFAIL_INVALID_ARGUMENT);
}

TEST_F(SessionTest, SettablePropertiesRoundTrip) {
  char name[HT_SERVER_NAME_CAPACITY];
  ASSERT_EQ(HTGetProperty(HTSESSION_LOCAL_SERVER_NAME, name), HTSUCCESS);
  EXPECT_STREQ(name, "Local");
  ASSERT_EQ(HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, "Workstation"), HTSUCCESS);
  ASSERT_EQ(HTGetProperty(HTSESSION_LOCAL_SERVER_NAME, name), HTSUCCESS);
  EXPECT_STREQ(name, "Workstation");
  std::string tooLong(200, 'x');
  EXPECT_EQ(HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, tooLong.c_str()), HTFAIL_TEXT_TOO_LONG);

  // A one-byte Boolean is read by its first byte only.
  uint8_t flag[4] = {1, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(HTSetProperty(HTSESSION_STRICT_BIND, flag), HTSUCCESS);
  HTUINT strict = 0;
  ASSERT_EQ(HTGetProperty(HTSESSION_STRICT_BIND, &strict), HTSUCCESS);
  EXPECT_EQ(strict, 1u);
}

TEST_F(SessionTest, UserNameComesFromIniAndQuireUserOverrides) {
  EXPECT_FALSE(userName().empty());
  actAs("CN=Test User/O=Acme");
  EXPECT_EQ(userName(), "CN=Test User/O=Acme");
}

TEST_F(SessionTest, EnvironmentStringsPersistAndVolatileOnesHide) {
  char value[152];
  EXPECT_EQ(HTGetEnvironmentString("MailFile", 151, value), HTFAIL_ENTRY_NOT_FOUND);
  EXPECT_STREQ(value, "");
  ASSERT_EQ(HTSetEnvironmentString("MailFile", "mail\\ann.nsf", 1), HTSUCCESS);
  ASSERT_EQ(HTGetEnvironmentString("mailfile", 151, value), HTSUCCESS);
  EXPECT_STREQ(value, "mail\\ann.nsf");
  ASSERT_EQ(HTSetEnvironmentString("MailFile", "temp", 0), HTSUCCESS);
  ASSERT_EQ(HTGetEnvironmentString("MailFile", 151, value), HTSUCCESS);
  EXPECT_STREQ(value, "temp");
  // Persisted across a restart of the engine; the volatile value is gone.
  HTTerm(0);
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
  ASSERT_EQ(HTGetEnvironmentString("MailFile", 151, value), HTSUCCESS);
  EXPECT_STREQ(value, "mail\\ann.nsf");
  // The capacity is honoured.
  char small[5];
  ASSERT_EQ(HTGetEnvironmentString("MailFile", 5, small), HTSUCCESS);
  EXPECT_STREQ(small, "mail");
  EXPECT_EQ(HTSetEnvironmentString("bad=name", "x", 1), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTSetEnvironmentString("", "x", 1), HTFAIL_INVALID_ARGUMENT);
  // Values with line breaks survive the ini file.
  ASSERT_EQ(HTSetEnvironmentString("Multi", "a\nb\\c", 1), HTSUCCESS);
  ASSERT_EQ(HTGetEnvironmentString("Multi", 151, value), HTSUCCESS);
  EXPECT_STREQ(value, "a\nb\\c");
  ASSERT_EQ(HTSetEnvironmentString("Multi", "", 1), HTSUCCESS);
  EXPECT_EQ(HTGetEnvironmentString("Multi", 151, value), HTFAIL_ENTRY_NOT_FOUND);
}

TEST_F(SessionTest, InternationalSettingsRoundTrip) {
  HTINTERNATIONAL intl{};
  ASSERT_EQ(HTGetInternational(&intl), HTSUCCESS);
  EXPECT_EQ(intl.dateOrder, uint32_t(HTDATEORDER_MDY));
  EXPECT_STREQ(intl.dateSeparator, "/");
  uint8_t raw[148];
  std::memcpy(raw, &intl, sizeof raw);
  intl.dateOrder = HTDATEORDER_DMY;
  std::strcpy(intl.dateSeparator, ".");
  ASSERT_EQ(HTSetInternational(&intl), HTSUCCESS);
  HTINTERNATIONAL back{};
  ASSERT_EQ(HTGetInternational(&back), HTSUCCESS);
  uint32_t order;
  std::memcpy(&order, reinterpret_cast<uint8_t*>(&back) + 4, 4);
  EXPECT_EQ(order, uint32_t(HTDATEORDER_DMY));
  EXPECT_STREQ(back.dateSeparator, ".");
  intl.dateOrder = 9;
  EXPECT_EQ(HTSetInternational(&intl), HTFAIL_INVALID_ARGUMENT);
}

TEST_F(SessionTest, ErrorInfoKnowsEveryCodeAndDetails) {
  for (size_t i = 0; i < errorTableSize(); ++i) {
    HTINT severity = -1;
    char text[HT_ERROR_TEXT_CAPACITY];
    EXPECT_EQ(HTErrorGetInfo(errorTableCode(i), &severity, text), 1) << std::hex << errorTableCode(i);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_GE(severity, 0);
  }
  char text[HT_ERROR_TEXT_CAPACITY] = "junk";
  HTINT severity = 5;
  EXPECT_EQ(HTErrorGetInfo(0x80001234u, &severity, text), 0);
  EXPECT_STREQ(text, "");
  // The detail of the latest failure names what failed.
  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen("", "missing\\thing.nsf", 0, &db), HTFAIL_DB_NOT_FOUND);
  EXPECT_NE(message(HTFAIL_DB_NOT_FOUND).find("missing\\thing.nsf"), std::string::npos);
}

TEST(EngineTranslate, NonAsciiRoundTripsThroughLmbcs) {
  const std::string text = "Grüße, Ελλάδα, 日本";
  char lmbcs[128];
  HTUINT len = 0;
  ASSERT_EQ(HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, HTUINT(text.size()), text.c_str(), sizeof lmbcs, lmbcs, &len),
            HTSUCCESS);
  EXPECT_EQ(len, std::strlen(lmbcs));
  EXPECT_NE(std::string(lmbcs), text);
  char back[128];
  ASSERT_EQ(HTTranslate(HTTRANSLATE_LMBCS_TO_NATIVE, len, lmbcs, sizeof back, back, &len), HTSUCCESS);
  EXPECT_EQ(std::string(back), text);
  EXPECT_EQ(HTTranslate(7, 1, "a", sizeof back, back, &len), HTFAIL_INVALID_ARGUMENT);
}

// A guard byte after the buffer shows that no call writes past the capacity, in either
// direction, for every capacity from 1 up; cuts never split a character.
TEST(EngineTranslate, NeverWritesPastCapacity) {
  const std::string text = "Grüße, Ελλάδα, 日本 and more text";
  char lmbcs[256];
  HTUINT full = 0;
  ASSERT_EQ(HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, HTUINT(text.size()), text.c_str(), sizeof lmbcs, lmbcs, &full), 0u);
  for (int mode : {HTTRANSLATE_NATIVE_TO_LMBCS, HTTRANSLATE_LMBCS_TO_NATIVE}) {
    const std::string& src = mode == HTTRANSLATE_NATIVE_TO_LMBCS ? text : std::string(lmbcs, full);
    for (HTUINT cap = 1; cap < 64; ++cap) {
      std::vector<char> buf(cap + 1, '\x5A');
      HTUINT out = 999;
      HTSTATUS status = HTTranslate(mode, HTUINT(src.size()), src.c_str(), cap, buf.data(), &out);
      EXPECT_EQ(buf[cap], '\x5A') << "mode " << mode << " capacity " << cap;
      const size_t written = std::strlen(buf.data());
      EXPECT_LT(written, cap);
      if (status == HTFAIL_BUFFER_TOO_SMALL) {
        // A cut is reported with the full length the text needs.
        EXPECT_GT(out, written);
        EXPECT_GE(out + 1, cap);
      } else {
        ASSERT_EQ(status, HTSUCCESS);
        EXPECT_EQ(out, written);
      }
      if (mode == HTTRANSLATE_LMBCS_TO_NATIVE) {
        EXPECT_EQ(text.compare(0, written, buf.data(), written), 0) << "cut inside a character at capacity " << cap;
      }
    }
  }
  char one;
  EXPECT_EQ(HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, 1, "a", 0, &one, nullptr), HTFAIL_BUFFER_TOO_SMALL);
}

}  // namespace
}  // namespace quire::engine::test
