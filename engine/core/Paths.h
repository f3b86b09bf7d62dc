// Mapping of the API's database paths onto files below a server's data directory.
//
// An API path uses backslashes or slashes ("mail\abc.nsf"). It is resolved lexically
// ("." dropped, ".." removes the previous component) and may never leave the root: a ".."
// at the top, or a symbolic link leading outside, gives HTFAIL_PATH_OUTSIDE. An absolute
// path is accepted only when it lies inside the root (a file picked in a file dialog).
// Components are matched without regard to letter case when the exact spelling does not
// exist, because callers upper-case directory names ("MAIL\abc.nsf" finds mail/abc.nsf).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "hitest/hitest.h"

namespace quire::engine::paths {

struct Resolved {
  std::filesystem::path file;  // absolute path below the root
  std::string apiPath;         // relative API form with backslashes, as spelled on disk; "" = root
};

// Resolves `apiPath` below `root` (an absolute, canonical directory). Returns 0 or
// HTFAIL_PATH_OUTSIDE (detail recorded); the target need not exist.
HTSTATUS resolve(const std::filesystem::path& root, std::string_view apiPath, Resolved& out);

// The API form of `file` relative to `root` ("mail\abc.nsf").
std::string apiForm(const std::filesystem::path& root, const std::filesystem::path& file);

}  // namespace quire::engine::paths
