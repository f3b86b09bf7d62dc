// The one place where an errno value becomes text. Thread-safe (uses the
// reentrant strerror_r); never fails: an unknown code still yields a text.
#pragma once

#include <string>

namespace rtl {

// Text for an errno value, e.g. ErrnoText(ENOENT) == "No such file or directory".
std::string ErrnoText(int code);

}  // namespace rtl
