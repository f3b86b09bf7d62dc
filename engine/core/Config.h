// The engine's configuration: the local data directory and its settings file quire.ini.
//
// The data directory is $QUIRE_DATA, or ${XDG_DATA_HOME:-$HOME/.local/share}/quire/data,
// created on first use. quire.ini inside it holds:
//   [Session]        UserName=...        (default: the login name)
//   [Environment]    name=value          (HTGetEnvironmentString / HTSetEnvironmentString)
//   [International]  DateOrder=0|1|2, DateSeparator=/, TimeSeparator=:, DecimalSeparator=.,
//                    ThousandsSeparator=",", Currency=$, AM=AM, PM=PM, Clock24=0|1,
//                    TimeZone=<minutes east of UTC>, DaylightSaving=0|1
//   [Servers]        <server name>=<directory>  (relative directories are below the data dir)
//                    or <server name>=postgresql://host:port/dbname (store/PgStorage.h)
// A line it cannot read is kept as it stands and reported (problems()); no write drops it.
// Every change is a read-modify-write under an advisory lock (quire.ini.lock), written
// atomically; every read re-reads the file when it changed on disk, so a second process sees
// changes at its next call. The environment variable QUIRE_USER overrides the user name
// (tests act as another user with it; it is never written to the file).
//
// Thread-safe. One Config exists while the engine is initialised (core/Engine.h).
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/Files.h"
#include "engine/core/Ini.h"
#include "hitest/hitest.h"

namespace quire::engine {

class Config {
 public:
  // Creates the data directory when needed; throws Error(HTFAIL_CONFIG_ERROR) when it
  // cannot be made or used.
  explicit Config(std::filesystem::path dataDir);

  // $QUIRE_DATA or the default under the user's data home.
  static std::filesystem::path defaultDataDir();

  const std::filesystem::path& dataDir() const { return dataDir_; }

  std::string userName();

  // Environment strings. Non-persistent values live in this process only and hide the
  // stored value; an empty value removes the string.
  std::optional<std::string> environment(const std::string& name);
  void setEnvironment(const std::string& name, const std::string& value, bool persistent);

  HTINTERNATIONAL international();
  void setInternational(const HTINTERNATIONAL& settings);

  struct Server {
    std::string name;
    std::filesystem::path directory;
  };
  // The named servers, in file order.
  std::vector<Server> servers();
  std::optional<Server> findServer(std::string_view name);
  void setServer(const std::string& name, const std::filesystem::path& directory);
  // Forgets the named server (any letter case); false when there was none. Its directory stays.
  bool removeServer(std::string_view name);

  // What could not be read in quire.ini as it is now ("quire.ini line 3: ..."); the lines
  // stay in the file as they are (core/Ini.h).
  std::vector<std::string> problems();

 private:
  IniFile snapshot();
  template <typename F>
  void update(F change);

  std::filesystem::path dataDir_;
  std::filesystem::path iniPath_;
  std::mutex mutex_;
  IniFile cached_;
  files::Stamp stamp_;
  std::map<std::string, std::string> volatileEnv_;  // folded name -> value ("" = removed)
};

}  // namespace quire::engine
