// A host that drives the public entry-point table itself and ends the API before exit: the
// library's exit handler still runs HTTerm, after the main thread's thread-locals are gone,
// and a host's own exit handlers may call the API at that point too. The process must leave
// with status 0 (under AddressSanitizer too, which would report a use after destruction).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "binding/Quire01.h"
#include "tests/binding/LoaderFixture.h"

namespace {

class ExitTest : public FakeApiTest {
 protected:
  // In the child: the real engine, its data in this test's directory.
  void UseEngine() const {
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    setenv("QUIRE_DATA", (dir_ + "/data").c_str(), 1);
    Initialize();
    ASSERT_TRUE(DLLLoaded);
    ASSERT_TRUE(HTInitOK) << std::hex << HTGlobalErr;
  }
};

// A failure with a detail long enough to live on the heap, so that writing into its
// destroyed text would corrupt the allocator.
void FailWithLongDetail() {
  const std::string path = "no\\such\\directory\\" + std::string(200, 'x') + ".nsf";
  HTDBHANDLE db = 0;
  EXPECT_NE(HTAPI.HTDatabaseOpen("", path.c_str(), 0, &db), HTSUCCESS);
  EXPECT_NE(HTAPI.HTDocumentClose(12345, 0), HTSUCCESS);
}

TEST_F(ExitTest, HostEndsTheApiItselfAfterAFailedCall) {
  const int code = RunInChild([&] {
    UseEngine();
    if (HasFatalFailure()) return;
    FailWithLongDetail();
    EXPECT_EQ(HTAPI.HTTerm(0), HTSUCCESS);
    // The exit handler's HTTerm now fails (not initialised), recording its failure.
  });
  EXPECT_EQ(code, 0);
}

// Registered after Initialize, so it runs before the library's exit handler but after the
// main thread's thread-locals were destroyed.
void CallTheApiAtExit() {
  char name[HT_SERVER_NAME_CAPACITY] = {};
  const HTSTATUS listed = HTAPI.HTServerList(HTLIST_FIRST, name);
  char text[HT_ERROR_TEXT_CAPACITY] = {};
  HTINT severity = 0;
  if (listed != HTSUCCESS && HTAPI.HTErrorGetInfo(listed, &severity, text) == 0) std::_Exit(3);
  char lmbcs[64] = {};
  HTUINT length = 0;
  if (HTAPI.HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, HTUINT(std::strlen("Grüße")), "Grüße", sizeof lmbcs, lmbcs, &length) != HTSUCCESS ||
      std::strcmp(lmbcs, "Gr\x81\xE1" "e") != 0)
    std::_Exit(4);
  FailWithLongDetail();
}

TEST_F(ExitTest, HostExitHandlerCallsTheApiAfterThreadLocalsAreGone) {
  const int code = RunInChild([&] {
    UseEngine();
    if (HasFatalFailure()) return;
    FailWithLongDetail();
    char name[HT_SERVER_NAME_CAPACITY] = {};
    EXPECT_EQ(HTAPI.HTServerList(HTLIST_FIRST, name), HTSUCCESS);
    std::atexit(CallTheApiAtExit);
  });
  EXPECT_EQ(code, 0);
}

// The PostgreSQL client drags Kerberos, LDAP and TLS libraries (and their thread-locals)
// into whatever process maps it; a host whose databases are all local must not carry them.
TEST_F(ExitTest, LocalDatabasesLeaveThePostgresClientUnloaded) {
  const int code = RunInChild([&] {
    UseEngine();
    if (HasFatalFailure()) return;
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTAPI.HTDatabaseCreate("", "local.nsf", "Local", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
    ASSERT_EQ(HTAPI.HTDatabaseOpen("", "local.nsf", 0, &db), HTSUCCESS);
    HTAPI.HTDatabaseClose(db, 0);
    EXPECT_EQ(dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD), nullptr);
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
