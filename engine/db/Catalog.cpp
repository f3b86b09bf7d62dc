#include "engine/db/Catalog.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "engine/core/Paths.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Database.h"
#include "engine/store/Properties.h"
#include "engine/store/Locator.h"
#include "engine/store/Schema.h"

namespace quire::engine::db {
namespace {

namespace fs = std::filesystem;

enum class Kind { None, Database, Template };

Kind kindOf(const fs::path& p) {
  std::string ext = foldCase(p.extension().string());
  if (ext == ".nsf") return Kind::Database;
  if (ext == ".ntf") return Kind::Template;
  return Kind::None;
}

bool wanted(Kind kind, HTINT listClass) {
  switch (listClass) {
    case HTDBLIST_DATABASE:
    case HTDBLIST_REPLICA_CANDIDATE: return kind == Kind::Database;
    case HTDBLIST_TEMPLATE:
    case HTDBLIST_TEMPLATE_CANDIDATE: return kind == Kind::Template;
    case HTDBLIST_ALL: return kind != Kind::None;
    default: return false;
  }
}

bool listsDirectories(HTINT listClass) {
  return listClass == HTDBLIST_DATABASE || listClass == HTDBLIST_TEMPLATE || listClass == HTDBLIST_DIRECTORY ||
         listClass == HTDBLIST_ALL || listClass == HTDBLIST_REPLICA_CANDIDATE ||
         listClass == HTDBLIST_TEMPLATE_CANDIDATE;
}

bool hidden(const std::string& name) { return name.empty() || name[0] == '.' || name.find(".creating.") != std::string::npos; }

void sortByName(std::vector<CatalogEntry>& v) {
  std::sort(v.begin(), v.end(), [](const CatalogEntry& a, const CatalogEntry& b) { return foldCase(a.file) < foldCase(b.file); });
}

// A listing in the order every caller shows it: the way up (below the top), then the
// directories, then the databases, each sorted by file name.
HTSTATUS finishListing(const paths::Resolved& dir, HTINT listClass, std::vector<CatalogEntry> dirs,
                       std::vector<CatalogEntry> dbs, std::vector<CatalogEntry>& out) {
  sortByName(dirs);
  sortByName(dbs);
  out.clear();
  if (!dir.apiPath.empty() && listsDirectories(listClass)) out.push_back({false, "..", "..", dir.apiPath + "\\.."});
  out.insert(out.end(), dirs.begin(), dirs.end());
  out.insert(out.end(), dbs.begin(), dbs.end());
  return HTSUCCESS;
}

HTREPLICAID idFromBlob(const store::Blob& b) {
  HTREPLICAID id{};
  if (b.size() == 8)
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < 4; ++k) id.words[i] |= uint32_t(b[size_t(i * 4 + k)]) << (8 * k);
  return id;
}

DatabaseInfo readInfo(store::Connection& conn) {
  DatabaseInfo info;
  info.title = store::prop::getText(conn, store::prop::kTitle).value_or("");
  info.replicaId = idFromBlob(store::prop::getBlob(conn, store::prop::kReplicaId).value_or(store::Blob{}));
  return info;
}

void walk(const ServerRef& server, const fs::path& dir, std::vector<CatalogEntry>& out) {
  std::error_code ec;
  std::vector<fs::path> dirs, files;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string name = e.path().filename().string();
    if (hidden(name)) continue;
    if (e.is_directory(ec)) dirs.push_back(e.path());
    else if (kindOf(e.path()) != Kind::None) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::sort(dirs.begin(), dirs.end());
  for (const auto& f : files) {
    if (auto info = peek(f))
      out.push_back({true, info->title, f.filename().string(), paths::apiForm(server.root, f), info->replicaId});
  }
  for (const auto& d : dirs) {
    // Symbolic links may point anywhere; only real directories inside the root are walked.
    if (fs::is_symlink(fs::symlink_status(d, ec))) continue;
    walk(server, d, out);
  }
}

// A PostgreSQL server has no directories of its own: they are the folders its catalogue's
// paths name.
HTSTATUS listRemote(const ServerRef& server, const paths::Resolved& dir, HTINT listClass,
                    std::vector<CatalogEntry>& out);

}  // namespace

std::optional<DatabaseInfo> peek(const fs::path& file) {
  try {
    if (auto db = findOpen(file)) {
      auto lock = db->lock();
      return readInfo(db->conn());
    }
    auto conn = store::open(file, {.readOnly = true});
    store::checkSchemaVersion(*conn);
    return readInfo(*conn);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

HTSTATUS listDirectory(const ServerRef& server, std::string_view directory, HTINT listClass,
                       std::vector<CatalogEntry>& out) {
  paths::Resolved dir;
  if (HTSTATUS s = paths::resolve(server.root, directory, dir)) return s;
  if (store::isRemote(server.root)) return listRemote(server, dir, listClass, out);
  std::error_code ec;
  if (!fs::is_directory(dir.file, ec))
    return fail(HTFAIL_DB_NOT_FOUND, "Directory " + std::string(directory) + " not found");
  std::vector<CatalogEntry> dirs, dbs;
  for (const auto& e : fs::directory_iterator(dir.file, ec)) {
    std::string name = e.path().filename().string();
    if (hidden(name)) continue;
    std::string api = dir.apiPath.empty() ? name : dir.apiPath + "\\" + name;
    if (e.is_directory(ec)) {
      if (listsDirectories(listClass)) dirs.push_back({false, name, name, api});
    } else if (wanted(kindOf(e.path()), listClass)) {
      if (auto info = peek(e.path())) dbs.push_back({true, info->title, name, api});
    }
  }
  return finishListing(dir, listClass, std::move(dirs), std::move(dbs), out);
}

std::vector<CatalogEntry> allDatabases(const ServerRef& server) {
  std::vector<CatalogEntry> out;
  if (store::isRemote(server.root)) {
    for (const std::string& path : store::listRemote(server.root)) {
      const fs::path file = store::remoteLocator(server.root, path);
      if (auto info = peek(file))
        out.push_back({true, info->title, file.filename().string(), paths::apiForm(server.root, file), info->replicaId});
    }
    return out;
  }
  walk(server, server.root, out);
  return out;
}

namespace {

HTSTATUS listRemote(const ServerRef& server, const paths::Resolved& dir, HTINT listClass,
                    std::vector<CatalogEntry>& out) {
  std::string prefix;
  for (char c : foldCase(dir.apiPath)) prefix += c == '\\' ? '/' : c;
  if (!prefix.empty()) prefix += '/';
  std::vector<CatalogEntry> dirs, dbs;
  bool any = prefix.empty();
  for (const std::string& path : store::listRemote(server.root)) {
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    any = true;
    const std::string rest = path.substr(prefix.size());
    const size_t slash = rest.find('/');
    const std::string api = dir.apiPath.empty() ? rest.substr(0, slash) : dir.apiPath + "\\" + rest.substr(0, slash);
    if (slash != std::string::npos) {
      const std::string name = rest.substr(0, slash);
      const bool seen = std::any_of(dirs.begin(), dirs.end(), [&](const CatalogEntry& e) { return e.file == name; });
      if (listsDirectories(listClass) && !seen) dirs.push_back({false, name, name, api});
    } else if (wanted(kindOf(rest), listClass)) {
      if (auto info = peek(store::remoteLocator(server.root, path))) dbs.push_back({true, info->title, rest, api});
    }
  }
  if (!any) return fail(HTFAIL_DB_NOT_FOUND, "Directory " + dir.apiPath + " not found");
  return finishListing(dir, listClass, std::move(dirs), std::move(dbs), out);
}

}  // namespace

}  // namespace quire::engine::db
