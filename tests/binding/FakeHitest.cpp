// A stand-in for libnthtapi.so that exports only the entry points the loader and the
// conversions call, plus the three renamed exports and, as decoys, exports under the
// *slot* names of those three. Everything else is deliberately absent, so the loader's
// fallbacks can be seen. Behaviour comes from the environment:
//
//   QR_FAKE_LOG          file to which every call appends one line
//   QR_FAKE_INIT_RESULT  what _HTInit returns (strtoul, base 0); default 0
//   QR_FAKE_DATE_ORDER   the date order HTGetInternational reports; default 0
//   QR_FAKE_TRANSLATE    HTTranslate's behaviour: "case" (default: mode 0 upper-cases,
//                        mode 1 lower-cases), "unterminated" (fills the whole buffer, no
//                        terminator), "fail" (junk in the buffer and a failure code),
//                        "triple" (each byte three times; reports the length it needs
//                        when the buffer is too small), "triple-nohint" (same, without
//                        saying what it needs)
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "hitest/hitest.h"
#include "tests/binding/FakeApi.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Log(const char* format, ...) {
  const char* path = std::getenv("QR_FAKE_LOG");
  if (path == nullptr) return;
  FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fclose(file);
}

unsigned long EnvNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtoul(text, nullptr, 0) : fallback;
}

std::string TranslateMode() {
  const char* text = std::getenv("QR_FAKE_TRANSLATE");
  return text != nullptr ? text : "case";
}

// Writes `text` cut to capacity - 1 and terminated; the status says whether it fitted.
HTSTATUS WriteCut(const std::string& text, HTUINT capacity, char* buffer, HTUINT* outLength, bool hint) {
  const size_t written = text.size() < capacity ? text.size() : capacity - 1;
  std::memcpy(buffer, text.data(), written);
  buffer[written] = '\0';
  const bool fitted = written == text.size();
  *outLength = static_cast<HTUINT>(fitted || !hint ? written : text.size());
  return fitted ? HTSUCCESS : HTFAIL_BUFFER_TOO_SMALL;
}

}  // namespace

FAKE_EXPORT HTSTATUS HTGetAPILibraryVersion(char* version) {
  std::strcpy(version, "Fake 1.0");
  return HTSUCCESS;
}

FAKE_EXPORT HTSTATUS _HTInit(HTUINT version, HTUINT flags, HTUINT reserved, HTUINT* state) {
  Log("_HTInit %u %u %u %u", version, flags, reserved, state != nullptr ? *state : 99u);
  return static_cast<HTSTATUS>(EnvNumber("QR_FAKE_INIT_RESULT", 0));
}

FAKE_EXPORT HTSTATUS HTTerm(HTUINT flags) {
  Log("HTTerm %u", flags);
  return HTSUCCESS;
}

FAKE_EXPORT HTSTATUS HTSetProperty(HTINT property, const void* value) {
  if (property == HTSESSION_LOCAL_SERVER_NAME) {
    Log("HTSetProperty %d %s", property, static_cast<const char*>(value));
  } else {
    Log("HTSetProperty %d %u", property, *static_cast<const HTUINT*>(value));
  }
  return HTSUCCESS;
}

FAKE_EXPORT HTSTATUS HTGetInternational(HTINTERNATIONAL* settings) {
  Log("HTGetInternational");
  std::memset(settings, 0x5A, sizeof *settings);  // every byte the loader should not read
  settings->dateOrder = static_cast<uint32_t>(EnvNumber("QR_FAKE_DATE_ORDER", 0));
  return HTSUCCESS;
}

FAKE_EXPORT HTSTATUS HTTranslate(HTINT mode, HTUINT length, const char* source, HTUINT capacity, char* buffer,
                                 HTUINT* outLength) {
  Log("HTTranslate %d %u %u", mode, length, capacity);
  const std::string behaviour = TranslateMode();
  const std::string input(source, length);
  if (behaviour == "unterminated") {
    std::memset(buffer, 'x', capacity);
    *outLength = capacity;
    return HTSUCCESS;
  }
  if (behaviour == "fail") {
    std::strncpy(buffer, "junk", capacity);
    *outLength = 4;
    return HTFAIL_INTERNAL;
  }
  if (behaviour == "triple" || behaviour == "triple-nohint") {
    std::string tripled;
    for (const char c : input) tripled.append(3, c);
    return WriteCut(tripled, capacity, buffer, outLength, behaviour == "triple");
  }
  std::string converted = input;
  for (char& c : converted) {
    c = static_cast<char>(mode == HTTRANSLATE_NATIVE_TO_LMBCS ? std::toupper(static_cast<unsigned char>(c))
                                                              : std::tolower(static_cast<unsigned char>(c)));
  }
  return WriteCut(converted, capacity, buffer, outLength, true);
}

FAKE_EXPORT HTBOOL HTErrorGetInfo(HTSTATUS code, HTINT* severity, char* text) {
  Log("HTErrorGetInfo %#x", code);
  if (code == kFakeKnownCode) {
    *severity = HTERRSEV_NONFATAL;
    std::strcpy(text, "Fake: no such note");
    return 1;
  }
  if (code == kFakeLongMessageCode) {
    std::memset(text, 'm', HT_ERROR_TEXT_CAPACITY);  // the whole buffer, unterminated
    return 1;
  }
  std::strcpy(text, "junk");  // no message: whatever is in the buffer is not one
  return 0;
}

FAKE_EXPORT HTSTATUS HTDatabaseReopen(HTDBHANDLE, HTUINT, HTDBHANDLE*) { return kFakeReopenResult; }
FAKE_EXPORT HTSTATUS HTACLGetACLProperty(HTDBHANDLE, HTINT, void*) { return kFakeACLGetResult; }
FAKE_EXPORT HTSTATUS HTACLSetACLProperty(HTDBHANDLE, HTINT, HTUINT) { return kFakeACLSetResult; }
FAKE_EXPORT HTSTATUS HTDatabaseReOpen(HTDBHANDLE, HTUINT, HTDBHANDLE*) { return kFakeDecoyResult; }
FAKE_EXPORT HTSTATUS HTACLGetProperty(HTDBHANDLE, HTINT, void*) { return kFakeDecoyResult; }
FAKE_EXPORT HTSTATUS HTACLSetProperty(HTDBHANDLE, HTINT, HTUINT) { return kFakeDecoyResult; }

// The double must match the contract it stands in for.
static_assert(std::is_same_v<decltype(&_HTInit), HT__HTInit_fn>);
static_assert(std::is_same_v<decltype(&HTTerm), HT_HTTerm_fn>);
static_assert(std::is_same_v<decltype(&HTSetProperty), HT_HTSetProperty_fn>);
static_assert(std::is_same_v<decltype(&HTGetInternational), HT_HTGetInternational_fn>);
static_assert(std::is_same_v<decltype(&HTTranslate), HT_HTTranslate_fn>);
static_assert(std::is_same_v<decltype(&HTErrorGetInfo), HT_HTErrorGetInfo_fn>);
static_assert(std::is_same_v<decltype(&HTDatabaseReopen), HT_HTDatabaseReOpen_fn>);
static_assert(std::is_same_v<decltype(&HTACLGetACLProperty), HT_HTACLGetProperty_fn>);
static_assert(std::is_same_v<decltype(&HTACLSetACLProperty), HT_HTACLSetProperty_fn>);
