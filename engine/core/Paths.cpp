#include "engine/core/Paths.h"

#include <system_error>
#include <vector>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/PgStorage.h"

namespace quire::engine::paths {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> split(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      parts.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(std::move(current));
  return parts;
}

bool isWithin(const fs::path& root, const fs::path& p) {
  auto r = root.begin(), q = p.begin();
  for (; r != root.end(); ++r, ++q) {
    if (q == p.end() || *r != *q) return false;
  }
  return true;
}

// The existing entry of `dir` that matches `name`, exactly or else without regard to case.
std::string matchEntry(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
  const std::string folded = foldCase(name);
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::string candidate = entry.path().filename().string();
    if (foldCase(candidate) == folded) return candidate;
  }
  return name;
}

HTSTATUS outside(std::string_view apiPath) {
  return fail(HTFAIL_PATH_OUTSIDE, "The path " + std::string(apiPath) + " lies outside the server's data directory");
}

}  // namespace

HTSTATUS resolve(const fs::path& root, std::string_view apiPath, Resolved& out) {
  std::string_view rel = apiPath;
  if (!rel.empty() && (rel[0] == '/' || rel[0] == '\\') && !store::isRemote(root)) {
    // An absolute path must name something inside the root.
    std::string unix(rel);
    for (char& c : unix) c = c == '\\' ? '/' : c;
    fs::path abs = fs::path(unix).lexically_normal();
    if (!isWithin(root, abs)) return outside(apiPath);
    return resolve(root, abs.lexically_relative(root).string(), out);
  }
  if (rel.size() >= 2 && rel[1] == ':') return outside(apiPath);  // a drive letter
  std::vector<std::string> kept;
  for (std::string& part : split(rel)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (kept.empty()) return outside(apiPath);
      kept.pop_back();
      continue;
    }
    if (part.find('\0') != std::string::npos) return outside(apiPath);
    kept.push_back(std::move(part));
  }
  if (store::isRemote(root)) {
    // Nothing on a server's disk to match or to escape through: the path is the name.
    std::string api;
    for (const std::string& part : kept) api += (api.empty() ? "" : "\\") + part;
    out.file = store::remoteLocator(root, api);
    out.apiPath = std::move(api);
    return HTSUCCESS;
  }
  fs::path file = root;
  std::string api;
  for (const std::string& part : kept) {
    std::string actual = matchEntry(file, part);
    file /= actual;
    api += (api.empty() ? "" : "\\") + actual;
  }
  // A symbolic link anywhere on the way must not lead out of the root.
  std::error_code ec;
  fs::path real = fs::weakly_canonical(file, ec);
  if (ec || !isWithin(root, real)) return outside(apiPath);
  out.file = std::move(file);
  out.apiPath = std::move(api);
  return HTSUCCESS;
}

std::string apiForm(const fs::path& root, const fs::path& file) {
  if (store::isRemote(root)) {
    std::string rel = file.native().substr(std::min(file.native().size(), root.native().size() + 1));
    for (char& c : rel) c = c == '/' ? '\\' : c;
    return rel;
  }
  std::string rel = file.lexically_relative(root).generic_string();
  for (char& c : rel) c = c == '/' ? '\\' : c;
  return rel == "." ? std::string() : rel;
}

}  // namespace quire::engine::paths
