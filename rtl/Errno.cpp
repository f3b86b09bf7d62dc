#include "rtl/Errno.h"

#include <string.h>

namespace rtl {
namespace {

// strerror_r comes in two flavours depending on feature macros; overloads pick
// whichever the C library declared.
[[maybe_unused]] std::string FromStrerror(char* result, const char*) { return result; }
[[maybe_unused]] std::string FromStrerror(int result, const char* buffer) {
  return result == 0 ? std::string(buffer) : std::string();
}

}  // namespace

std::string ErrnoText(int code) {
  char buffer[256] = {};
  std::string text = FromStrerror(strerror_r(code, buffer, sizeof buffer), buffer);
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  return text;
}

}  // namespace rtl
