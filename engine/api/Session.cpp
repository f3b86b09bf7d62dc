// Library, session, environment, translation and error entry points.
#include <cstring>

#include "engine/core/Engine.h"
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Lmbcs.h"
#include "engine/core/Text.h"
#include "engine/db/Database.h"
#include "engine/db/Session.h"

using namespace quire::engine;

namespace {

constexpr const char* kLibraryVersion = "Quire engine 0.1 (API 4.5)";
constexpr const char* kNotesVersion = "Release 4.5 (Quire engine 0.1)";
constexpr size_t kTaskNameCapacity = 80;

// Booleans handed by address: only the first byte counts (hitest.h convention 6).
uint32_t readFlag(const void* value) { return *static_cast<const uint8_t*>(value) != 0 ? 1 : 0; }
uint32_t readU32(const void* value) {
  uint32_t v;
  std::memcpy(&v, value, sizeof v);
  return v;
}
void writeU32(void* value, uint32_t v) { std::memcpy(value, &v, sizeof v); }

HTSTATUS getSessionProperty(HTINT property, void* value) {
  const db::SessionSettings s = db::settings();
  switch (property) {
    case HTSESSION_LOCAL_SERVER_NAME: copyText(static_cast<char*>(value), HT_SERVER_NAME_CAPACITY, s.localServerName); break;
    case HTSESSION_TRUNCATE_TEXT: writeU32(value, s.truncateText); break;
    case HTSESSION_KEEP_MAILDB_OPEN: writeU32(value, s.keepMailDbOpen); break;
    case HTSESSION_ABBREVIATE_NAMES: writeU32(value, s.abbreviateNames); break;
    case HTSESSION_SUMMARY_LIMIT: writeU32(value, s.summaryLimit); break;
    case HTSESSION_DELAY_COMMIT: writeU32(value, s.delayCommit); break;
    case HTSESSION_STRICT_BIND: writeU32(value, s.strictBind); break;
    case HTSESSION_FETCH_DESIGN_FORMULA: writeU32(value, s.fetchDesignFormula); break;
    case HTSESSION_DOCOPEN_DESIGN: writeU32(value, s.docOpenDesign); break;
    case HTSESSION_USER_NAME: copyText(static_cast<char*>(value), HT_USER_NAME_CAPACITY, db::userName()); break;
    case HTSESSION_TIMEZONE: writeU32(value, uint32_t(config().international().timeZone)); break;
    case HTSESSION_DST_OBSERVED: writeU32(value, config().international().daylightSaving ? 1 : 0); break;
    case HTSESSION_IS_ON_SERVER:
      writeU32(value, 0);
      return fail(HTFAIL_NOT_ON_SERVER);
    case HTSESSION_NEWLINE_DELIMITER: writeU32(value, s.newlineDelimiter); break;
    case HTSESSION_NOTES_VERSION: copyText(static_cast<char*>(value), HT_VERSION_CAPACITY, kNotesVersion); break;
    case HTSESSION_DEFAULT_TASK_NAME: copyText(static_cast<char*>(value), kTaskNameCapacity, s.defaultTaskName); break;
    case HTSESSION_VIEW_CACHE_ROWS: writeU32(value, s.viewCacheRows); break;
    default: return fail(HTFAIL_UNKNOWN_PROPERTY, "Unknown session property " + std::to_string(property));
  }
  return HTSUCCESS;
}

HTSTATUS setSessionProperty(HTINT property, const void* value) {
  switch (property) {
    case HTSESSION_LOCAL_SERVER_NAME: {
      std::string name(static_cast<const char*>(value));
      if (!fits(name, HT_SERVER_NAME_CAPACITY)) return fail(HTFAIL_TEXT_TOO_LONG, "A server name may have at most 127 bytes");
      db::changeSettings([&](db::SessionSettings& s) { s.localServerName = name; });
      return HTSUCCESS;
    }
    case HTSESSION_DEFAULT_TASK_NAME: {
      std::string name(static_cast<const char*>(value));
      if (!fits(name, kTaskNameCapacity)) return fail(HTFAIL_TEXT_TOO_LONG, "A task name may have at most 79 bytes");
      db::changeSettings([&](db::SessionSettings& s) { s.defaultTaskName = name; });
      return HTSUCCESS;
    }
    case HTSESSION_TRUNCATE_TEXT: db::changeSettings([&](db::SessionSettings& s) { s.truncateText = readFlag(value); }); return 0;
    case HTSESSION_KEEP_MAILDB_OPEN: db::changeSettings([&](db::SessionSettings& s) { s.keepMailDbOpen = readFlag(value); }); return 0;
    case HTSESSION_ABBREVIATE_NAMES: db::changeSettings([&](db::SessionSettings& s) { s.abbreviateNames = readFlag(value); }); return 0;
    case HTSESSION_DELAY_COMMIT: {
      const uint32_t on = readFlag(value);
      db::changeSettings([&](db::SessionSettings& s) { s.delayCommit = on; });
      return on ? HTSUCCESS : db::flushAll();
    }
    case HTSESSION_STRICT_BIND: db::changeSettings([&](db::SessionSettings& s) { s.strictBind = readFlag(value); }); return 0;
    case HTSESSION_FETCH_DESIGN_FORMULA: db::changeSettings([&](db::SessionSettings& s) { s.fetchDesignFormula = readFlag(value); }); return 0;
    case HTSESSION_DOCOPEN_DESIGN: db::changeSettings([&](db::SessionSettings& s) { s.docOpenDesign = readFlag(value); }); return 0;
    case HTSESSION_SUMMARY_LIMIT: db::changeSettings([&](db::SessionSettings& s) { s.summaryLimit = readU32(value); }); return 0;
    case HTSESSION_NEWLINE_DELIMITER: db::changeSettings([&](db::SessionSettings& s) { s.newlineDelimiter = readU32(value); }); return 0;
    case HTSESSION_VIEW_CACHE_ROWS: db::changeSettings([&](db::SessionSettings& s) { s.viewCacheRows = readU32(value); }); return 0;
    default:
      return fail(HTFAIL_UNKNOWN_PROPERTY, "Session property " + std::to_string(property) + " is unknown or read-only");
  }
}

bool validEnvironmentName(std::string_view name) {
  if (trim(name).empty()) return false;
  for (char c : name)
    if (c == '=' || c == '\n' || c == '\r' || c == '[' || c == ']') return false;
  return true;
}

}  // namespace

HT_EXPORT HTSTATUS HTGetAPILibraryVersion(char* version) {
  return guard([&] {
    HT_REQUIRE_ARG(version);
    copyText(version, HT_VERSION_CAPACITY, kLibraryVersion);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS _HTInit(HTUINT version, HTUINT flags, HTUINT reserved, HTUINT* state) {
  return guard([&] {
    HTSTATUS s = start(version);
    if (state) *state = s == HTSUCCESS ? 1 : 0;
    return s;
  });
}

HT_EXPORT HTUINT HTQuireConfigWarnings(HTUINT capacity, char* text) {
  return guardValue<HTUINT>(0, [&]() -> HTUINT {
    const std::vector<std::string> problems = config().problems();
    std::string joined;
    for (const std::string& p : problems) joined += (joined.empty() ? "" : "\n") + p;
    if (text && capacity > 0) copyText(text, capacity, joined);
    return HTUINT(problems.size());
  });
}

HT_EXPORT HTSTATUS HTTerm(HTUINT flags) {
  return guard([&] {
    if (!running()) return fail(HTFAIL_NOT_INITIALIZED);
    // Delayed commits are made durable first, so a failure can still be returned.
    const HTSTATUS flushed = db::flushAll();
    stop();
    return flushed;
  });
}

HT_EXPORT HTSTATUS HTGetProperty(HTINT property, void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    config();
    return getSessionProperty(property, value);
  });
}

HT_EXPORT HTSTATUS HTSetProperty(HTINT property, const void* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    config();
    return setSessionProperty(property, value);
  });
}

HT_EXPORT HTSTATUS HTGetEnvironmentString(const char* name, HTUINT capacity, char* value) {
  return guard([&] {
    HT_REQUIRE_ARG(value);
    if (capacity == 0) return fail(HTFAIL_BUFFER_TOO_SMALL, "The value buffer has no room");
    value[0] = '\0';
    if (!validEnvironmentName(textArg(name))) return fail(HTFAIL_INVALID_ARGUMENT, "Invalid environment variable name");
    auto v = config().environment(name);
    if (!v) return fail(HTFAIL_ENTRY_NOT_FOUND, std::string("Environment variable ") + name + " is not set");
    copyText(value, capacity, *v);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTSetEnvironmentString(const char* name, const char* value, HTBOOL persistent) {
  return guard([&] {
    if (!validEnvironmentName(textArg(name))) return fail(HTFAIL_INVALID_ARGUMENT, "Invalid environment variable name");
    std::string v(textArg(value));
    if (v.find('\0') != std::string::npos) return fail(HTFAIL_INVALID_ARGUMENT, "Invalid environment value");
    config().setEnvironment(std::string(trim(name)), v, persistent != 0);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTGetInternational(HTINTERNATIONAL* settings) {
  return guard([&] {
    HT_REQUIRE_ARG(settings);
    *settings = config().international();
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTSetInternational(const HTINTERNATIONAL* settings) {
  return guard([&] {
    HT_REQUIRE_ARG(settings);
    config().setInternational(*settings);
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTTranslate(HTINT mode, HTUINT length, const char* source, HTUINT capacity, char* buffer,
                               HTUINT* outLength) {
  return guard([&] {
    if (outLength) *outLength = 0;
    HT_REQUIRE_ARG(buffer);
    if (capacity == 0) return fail(HTFAIL_BUFFER_TOO_SMALL, "The translation buffer has no room");
    buffer[0] = '\0';
    if (mode != HTTRANSLATE_NATIVE_TO_LMBCS && mode != HTTRANSLATE_LMBCS_TO_NATIVE)
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown translation mode " + std::to_string(mode));
    if (!source && length > 0) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: source");
    std::string_view text = source ? std::string_view(source, length) : std::string_view();
    size_t needed = 0;
    size_t n = lmbcs::translate(mode == HTTRANSLATE_NATIVE_TO_LMBCS, text, buffer, capacity, &needed);
    // A cut text is reported, with the length it needs, so a caller can retry with room
    // enough instead of losing the tail without knowing.
    if (needed > n) {
      if (outLength) *outLength = HTUINT(needed);
      return fail(HTFAIL_BUFFER_TOO_SMALL, "The translated text needs " + std::to_string(needed + 1) +
                                               " bytes; the buffer holds " + std::to_string(capacity));
    }
    if (outLength) *outLength = HTUINT(n);
    return HTSUCCESS;
  });
}

HT_EXPORT HTBOOL HTErrorGetInfo(HTSTATUS code, HTINT* severity, char* text) {
  return guardValue<HTBOOL>(0, [&]() -> HTBOOL {
    ErrorInfo info = errorText(code);
    if (!info.known) {
      if (severity) *severity = HTERRSEV_NOERROR;
      if (text) text[0] = '\0';
      return 0;
    }
    if (severity) *severity = info.severity;
    if (text) copyText(text, HT_ERROR_TEXT_CAPACITY, info.text);
    return 1;
  });
}
