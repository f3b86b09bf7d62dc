// Result codes, their messages, and the engine's internal failure type.
//
// One table (Status.cpp) holds every HTFAIL_* code the engine can return, with its severity
// and message. A failure may carry a detail (a file name, a position, the user refused):
// `fail(code, detail)` records it in a thread-local slot and returns the code, and
// `errorText(code)` answers the detailed text while the most recent failure recorded on this
// thread for that same code carried one, else the table's text. So HTErrorGetInfo, called
// right after a failing call on the same thread, names what went wrong.
//
// Inside the engine, code deep in a call stack may throw `Error` instead of threading a
// status back; the API wrappers (core/Guard.h) catch it and record it through `fail`.
// "Not found" outcomes are statuses, never exceptions.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "hitest/hitest.h"

namespace quire::engine {

// An engine failure carrying its result code; `what()` is the detail text.
class Error : public std::runtime_error {
 public:
  Error(HTSTATUS code, std::string detail) : std::runtime_error(std::move(detail)), code_(code) {}
  HTSTATUS code() const { return code_; }

 private:
  HTSTATUS code_;
};

// Records `detail` as this thread's text for `code` and returns `code`. An empty detail
// clears any earlier detail, so the table text is answered.
HTSTATUS fail(HTSTATUS code, std::string_view detail = {});

// Throws Error(code, detail); for code that cannot return a status.
[[noreturn]] void raise(HTSTATUS code, std::string detail);

struct ErrorInfo {
  bool known = false;       // false for a code the engine never returns
  HTINT severity = 0;       // an HTERRORSEVERITY value
  std::string text;         // detailed text when recorded, else the table text
};

// The message for `code`, as HTErrorGetInfo reports it.
ErrorInfo errorText(HTSTATUS code);

// The table text alone (never the thread's detail); nullptr for an unknown code.
const char* tableText(HTSTATUS code);

// Every code of the table, for tests and documentation.
size_t errorTableSize();
HTSTATUS errorTableCode(size_t index);

}  // namespace quire::engine
