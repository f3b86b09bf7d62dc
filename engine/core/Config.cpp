#include "engine/core/Config.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/PgStorage.h"

namespace quire::engine {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSession = "Session";
constexpr const char* kEnvironment = "Environment";
constexpr const char* kInternational = "International";
constexpr const char* kServers = "Servers";

std::string loginName() {
  passwd pw{};
  passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_name) return result->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "Anonymous";
}

int32_t systemZoneMinutes() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return int32_t(local.tm_gmtoff / 60);
}

int toInt(const std::optional<std::string>& v, int fallback) {
  if (!v || v->empty()) return fallback;
  char* end = nullptr;
  long n = std::strtol(v->c_str(), &end, 10);
  return (end && *end == '\0') ? int(n) : fallback;
}

template <size_t N>
void setField(char (&field)[N], const std::optional<std::string>& v, const char* fallback) {
  copyText(field, N, v ? *v : fallback);
}

template <size_t N>
std::string field(const char (&f)[N]) {
  return std::string(f, strnlen(f, N));
}

}  // namespace

fs::path Config::defaultDataDir() {
  if (const char* d = std::getenv("QUIRE_DATA"); d && *d) return fs::path(d);
  fs::path base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = fs::path(h) / ".local" / "share";
  } else {
    passwd* pw = getpwuid(getuid());
    base = fs::path(pw && pw->pw_dir ? pw->pw_dir : "/tmp") / ".local" / "share";
  }
  return base / "quire" / "data";
}

Config::Config(fs::path dataDir) : dataDir_(std::move(dataDir)) {
  try {
    files::ensureDirectory(dataDir_);
    dataDir_ = fs::canonical(dataDir_);
    iniPath_ = dataDir_ / "quire.ini";
    files::FileLock lock(dataDir_ / "quire.ini.lock");
    if (!files::read(iniPath_)) {
      IniFile ini;
      ini.set(kSession, "UserName", loginName());
      files::writeAtomic(iniPath_, ini.serialize());
    }
  } catch (const Error& e) {
    raise(HTFAIL_CONFIG_ERROR, std::string("Data directory unusable: ") + e.what());
  } catch (const std::exception& e) {
    raise(HTFAIL_CONFIG_ERROR, std::string("Data directory unusable: ") + dataDir_.string() + ": " + e.what());
  }
}

IniFile Config::snapshot() {
  std::lock_guard lock(mutex_);
  files::Stamp now = files::stamp(iniPath_);
  if (!(now == stamp_)) {
    auto text = files::read(iniPath_);
    cached_ = IniFile::parse(text ? *text : std::string());
    stamp_ = now;
  }
  return cached_;
}

template <typename F>
void Config::update(F change) {
  std::lock_guard lock(mutex_);
  files::FileLock fileLock(dataDir_ / "quire.ini.lock");
  // Re-read under the lock: another process may have written since our last look.
  auto text = files::read(iniPath_);
  IniFile ini = IniFile::parse(text ? *text : std::string());
  change(ini);
  files::writeAtomic(iniPath_, ini.serialize());
  cached_ = std::move(ini);
  stamp_ = files::stamp(iniPath_);
}

std::vector<std::string> Config::problems() {
  std::vector<std::string> out;
  const IniFile ini = snapshot();
  for (const std::string& p : ini.problems()) out.push_back("quire.ini " + p);
  return out;
}

std::string Config::userName() {
  if (const char* u = std::getenv("QUIRE_USER"); u && *u) return u;
  auto name = snapshot().get(kSession, "UserName");
  return name && !name->empty() ? *name : loginName();
}

std::optional<std::string> Config::environment(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    auto it = volatileEnv_.find(foldCase(name));
    if (it != volatileEnv_.end()) {
      if (it->second.empty()) return std::nullopt;
      return it->second;
    }
  }
  return snapshot().get(kEnvironment, name);
}

void Config::setEnvironment(const std::string& name, const std::string& value, bool persistent) {
  if (!persistent) {
    std::lock_guard lock(mutex_);
    volatileEnv_[foldCase(name)] = value;
    return;
  }
  {
    std::lock_guard lock(mutex_);
    volatileEnv_.erase(foldCase(name));
  }
  update([&](IniFile& ini) {
    if (value.empty()) {
      ini.remove(kEnvironment, name);
    } else {
      ini.set(kEnvironment, name, value);
    }
  });
}

HTINTERNATIONAL Config::international() {
  IniFile ini = snapshot();
  auto get = [&](const char* key) { return ini.get(kInternational, key); };
  HTINTERNATIONAL s{};
  int order = toInt(get("DateOrder"), HTDATEORDER_MDY);
  s.dateOrder = uint32_t(order >= HTDATEORDER_MDY && order <= HTDATEORDER_YMD ? order : HTDATEORDER_MDY);
  s.flags = toInt(get("Clock24"), 0) ? HTINTL_24_HOUR : 0;
  setField(s.dateSeparator, get("DateSeparator"), "/");
  setField(s.timeSeparator, get("TimeSeparator"), ":");
  setField(s.decimalSeparator, get("DecimalSeparator"), ".");
  setField(s.thousandsSeparator, get("ThousandsSeparator"), ",");
  setField(s.currencySymbol, get("Currency"), "$");
  setField(s.amString, get("AM"), "AM");
  setField(s.pmString, get("PM"), "PM");
  s.timeZone = toInt(get("TimeZone"), systemZoneMinutes());
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  s.daylightSaving = uint32_t(toInt(get("DaylightSaving"), local.tm_isdst > 0 ? 1 : 0) != 0);
  return s;
}

void Config::setInternational(const HTINTERNATIONAL& s) {
  if (s.dateOrder > HTDATEORDER_YMD) raise(HTFAIL_INVALID_ARGUMENT, "Date order must be 0, 1 or 2");
  update([&](IniFile& ini) {
    ini.set(kInternational, "DateOrder", std::to_string(s.dateOrder));
    ini.set(kInternational, "Clock24", (s.flags & HTINTL_24_HOUR) ? "1" : "0");
    ini.set(kInternational, "DateSeparator", field(s.dateSeparator));
    ini.set(kInternational, "TimeSeparator", field(s.timeSeparator));
    ini.set(kInternational, "DecimalSeparator", field(s.decimalSeparator));
    ini.set(kInternational, "ThousandsSeparator", field(s.thousandsSeparator));
    ini.set(kInternational, "Currency", field(s.currencySymbol));
    ini.set(kInternational, "AM", field(s.amString));
    ini.set(kInternational, "PM", field(s.pmString));
    ini.set(kInternational, "TimeZone", std::to_string(s.timeZone));
    ini.set(kInternational, "DaylightSaving", s.daylightSaving ? "1" : "0");
  });
}

std::vector<Config::Server> Config::servers() {
  std::vector<Server> out;
  for (const auto& [name, dir] : snapshot().entries(kServers)) {
    if (name.empty() || dir.empty()) continue;
    fs::path p(dir);
    out.push_back({name, p.is_absolute() || store::isServerUri(dir) ? p : dataDir_ / p});
  }
  return out;
}

std::optional<Config::Server> Config::findServer(std::string_view name) {
  for (Server& s : servers())
    if (equalsNoCase(s.name, name)) return s;
  return std::nullopt;
}

void Config::setServer(const std::string& name, const fs::path& directory) {
  update([&](IniFile& ini) { ini.set(kServers, name, directory.string()); });
}

bool Config::removeServer(std::string_view name) {
  bool removed = false;
  update([&](IniFile& ini) {
    for (const auto& [key, value] : ini.entries(kServers))
      if (equalsNoCase(key, name)) removed = ini.remove(kServers, key) || removed;
  });
  return removed;
}

}  // namespace quire::engine
