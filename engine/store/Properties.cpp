#include "engine/store/Properties.h"

namespace quire::engine::store::prop {
namespace {

std::unique_ptr<Statement> select(Connection& conn, std::string_view name) {
  auto st = conn.prepare("SELECT value FROM properties WHERE name = ?1");
  st->bind(1, name);
  return st;
}

std::unique_ptr<Statement> upsert(Connection& conn, std::string_view name) {
  auto st = conn.prepare(
      "INSERT INTO properties(name, value) VALUES(?1, ?2) "
      "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
  st->bind(1, name);
  return st;
}

}  // namespace

std::optional<int64_t> getInt(Connection& conn, std::string_view name) {
  auto st = select(conn, name);
  if (!st->step() || st->isNull(0)) return std::nullopt;
  return st->int64(0);
}

int64_t getInt(Connection& conn, std::string_view name, int64_t fallback) {
  return getInt(conn, name).value_or(fallback);
}

std::optional<std::string> getText(Connection& conn, std::string_view name) {
  auto st = select(conn, name);
  if (!st->step() || st->isNull(0)) return std::nullopt;
  return st->text(0);
}

std::optional<Blob> getBlob(Connection& conn, std::string_view name) {
  auto st = select(conn, name);
  if (!st->step() || st->isNull(0)) return std::nullopt;
  return st->blob(0);
}

void set(Connection& conn, std::string_view name, int64_t value) { upsert(conn, name)->bind(2, value).run(); }

void set(Connection& conn, std::string_view name, std::string_view text) { upsert(conn, name)->bind(2, text).run(); }

void setBlob(Connection& conn, std::string_view name, const Blob& value) { upsert(conn, name)->bindBlob(2, value).run(); }

}  // namespace quire::engine::store::prop
