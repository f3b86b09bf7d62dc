// A fresh engine per test: a new temporary data directory as QUIRE_DATA, _HTInit before the
// test and HTTerm after it, so no state leaks between tests. QUIRE_USER is cleared; a test
// that acts as another user sets it (actAs) and the fixture clears it again.
//
// Both storage backends: BackendTest runs each test once on the local server (SQLite files)
// and once on a server kept in PostgreSQL, named by server(). The PostgreSQL run needs the
// throwaway cluster scripts/test.sh starts (QUIRE_TEST_PG, a postgresql:// URI of a database
// the test user may create databases from); without it those cases are skipped with a
// message. Each test gets a PostgreSQL database of its own, dropped afterwards, so test
// processes running side by side never see each other's databases.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef QUIRE_TEST_POSTGRES
#include <libpq-fe.h>
#endif

#include "engine/api/EntryPoints.h"
#include "engine/core/Paths.h"
#include "engine/db/Session.h"
#include "hitest/hitest.h"

namespace quire::engine::test {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quire-engine-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dataDir_ = tmpl;
    setenv("QUIRE_DATA", tmpl, 1);
    unsetenv("QUIRE_USER");
    HTUINT state = 0;
    ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, &state), HTSUCCESS);
  }

  void TearDown() override {
    HTTerm(0);
    unsetenv("QUIRE_USER");
    unsetenv("QUIRE_DATA");
    std::error_code ec;
    std::filesystem::remove_all(dataDir_, ec);
  }

  static void actAs(const char* user) { setenv("QUIRE_USER", user, 1); }
  static void actAsSelf() { unsetenv("QUIRE_USER"); }

  // The message HTErrorGetInfo gives for `code` right now.
  static std::string message(HTSTATUS code) {
    char text[HT_ERROR_TEXT_CAPACITY];
    HTINT severity = 0;
    if (!HTErrorGetInfo(code, &severity, text)) return "";
    return text;
  }

  std::string userName() {
    char name[HT_USER_NAME_CAPACITY] = {};
    HTGetProperty(HTSESSION_USER_NAME, name);
    return name;
  }

  // On `server`, by default the test's home server (the local one, or server() of a
  // BackendTest).
  HTDBHANDLE createAndOpen(const char* path, const char* title = "Test", const char* server = nullptr) {
    if (!server) server = home_.c_str();
    EXPECT_EQ(HTDatabaseCreate(server, path, title, nullptr, HTDBCLASS_DATABASE), HTSUCCESS) << message(HTFAIL_DB_EXISTS);
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTDatabaseOpen(server, path, 0, &db), HTSUCCESS);
    return db;
  }

  // Where the database at `apiPath` of `server` (by default the home server) lives: a file,
  // or a PostgreSQL locator. Empty when the server or the path cannot be resolved.
  std::filesystem::path locate(const char* apiPath, const char* server = nullptr) {
    db::ServerRef ref;
    paths::Resolved where;
    if (db::resolveServer(server ? server : home_.c_str(), ref) != HTSUCCESS) return {};
    if (paths::resolve(ref.root, apiPath, where) != HTSUCCESS) return {};
    return where.file;
  }

  std::filesystem::path dataDir_;
  std::string home_;
};

enum class Backend { Sqlite, Postgres };

inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

// A PostgreSQL database made for one test and dropped after it.
class ScratchPostgres {
 public:
  // Empty when the tests have no cluster (or the build no libpq).
  static std::string clusterUri() {
#ifdef QUIRE_TEST_POSTGRES
    const char* uri = getenv("QUIRE_TEST_PG");
    return uri ? uri : "";
#else
    return "";
#endif
  }

  // Makes the database; returns its URI, or "" with `error` set.
  std::string make(std::string& error) {
#ifdef QUIRE_TEST_POSTGRES
    static std::atomic<int> counter{0};
    const std::string cluster = clusterUri();
    name_ = "t_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    if (!run("CREATE DATABASE " + name_, error)) return "";
    return cluster.substr(0, cluster.rfind('/') + 1) + name_;
#else
    error = "this build has no PostgreSQL client library";
    return "";
#endif
  }

  void drop() {
    if (name_.empty()) return;
    std::string ignored;
    run("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", ignored);
    name_.clear();
  }

  // Runs `sql` on the cluster's own database as the test user.
  static bool run(const std::string& sql, std::string& error, const std::string& uri = clusterUri()) {
#ifdef QUIRE_TEST_POSTGRES
    PGconn* c = PQconnectdb(uri.c_str());
    bool ok = PQstatus(c) == CONNECTION_OK;
    if (ok) {
      PGresult* r = PQexec(c, sql.c_str());
      ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
      PQclear(r);
    }
    if (!ok) error = PQerrorMessage(c);
    PQfinish(c);
    return ok;
#else
    (void)sql;
    (void)uri;
    error = "no PostgreSQL client library";
    return false;
#endif
  }

 private:
  std::string name_;
};

// Adds a quire.ini server entry (the engine re-reads the file at its next call).
inline void addServer(const std::filesystem::path& dataDir, const std::string& name, const std::string& target) {
  std::ofstream ini(dataDir / "quire.ini", std::ios::app);
  ini << "\n[Servers]\n" << name << "=" << target << "\n";
}

template <typename Base = EngineTest>
class BackendTestOf : public Base, public ::testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    if (backend() == Backend::Postgres && ScratchPostgres::clusterUri().empty())
      GTEST_SKIP() << "no PostgreSQL cluster for this run (QUIRE_TEST_PG unset; scripts/test.sh starts one)";
    Base::SetUp();
    if (backend() == Backend::Postgres) {
      std::string error;
      const std::string uri = pg_.make(error);
      ASSERT_FALSE(uri.empty()) << error;
      addServer(this->dataDir_, kServer, uri);
      pgUri_ = uri;
      server_ = kServer;
      this->home_ = kServer;
    }
  }
  void TearDown() override {
    Base::TearDown();
    pg_.drop();
  }

  static constexpr const char* kServer = "PgServer";
  // A fixture derived from this one may still be used by plain TEST_F tests: they run on
  // the local server.
  Backend backend() const {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info && info->value_param() ? GetParam() : Backend::Sqlite;
  }
  bool onPostgres() const { return backend() == Backend::Postgres; }
  // The server the test's databases live on: "" (local) or the PostgreSQL one.
  const char* server() const { return server_.c_str(); }

  std::string server_;
  std::string pgUri_;  // the PostgreSQL database of the test, for clients outside the engine
  ScratchPostgres pg_;
};

using BackendTest = BackendTestOf<EngineTest>;

// Runs every TEST_P of `Suite` on both backends.
#define QUIRE_BOTH_BACKENDS(Suite)                                                                              \
  INSTANTIATE_TEST_SUITE_P(, Suite, ::testing::Values(::quire::engine::test::Backend::Sqlite,                   \
                                                      ::quire::engine::test::Backend::Postgres),                \
                           ::quire::engine::test::backendName)

}  // namespace quire::engine::test
