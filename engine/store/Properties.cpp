#include "engine/store/Properties.h"

#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "engine/store/ManyRows.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store::prop {
namespace {

// Properties are read on every save and access check (uniform access, the change counter,
// the full-text flag) but change rarely, so reads are answered from memory while the file is
// known unchanged: while this connection holds the write lock it held when the cache was
// last checked (a transaction or a batch of grouped writes: no other connection can write
// then), or while the file's data version stays the same. Writes
// go through to the cache; a rollback forgets it (forgetCached), since the cache cannot tell
// which of its values the rollback undid.
struct Value {
  bool isNull = true;
  bool dirty = false;  // set with setLater, not yet written
  int64_t number = 0;
  std::string text;
  Blob blob;
  // Raw: bytes a server sent with its write lock (takeBeginProperties), typed on first read.
  enum class Kind { Int, Text, Blob, Raw } kind = Kind::Int;
};

struct Cache {
  int64_t dataVersion = -1;
  uint64_t checkedIn = 0;  // the transactionSerial it was last checked in (0: none)
  std::unordered_map<std::string, Value> values;
  // Set when `values` was filled from every row of the table: a name missing from it (and not
  // in `unfetched`) has no row, so reading it needs no statement.
  bool complete = false;
  std::unordered_set<std::string> unfetched;
};

Cache& cacheOf(Connection& conn) {
  if (!conn.propertyCache) conn.propertyCache = std::make_shared<Cache>();
  return *static_cast<Cache*>(conn.propertyCache.get());
}

// A server reads the whole table together with the write lock, since every statement made
// under that lock keeps the other writers waiting: the change counter and the flags a save
// asks for then cost nothing. Values kept back for the commit stay as they are.
void takePrefetched(Connection& conn, Cache& cache) {
  std::vector<Connection::PropertyRow> rows;
  if (!conn.takeBeginProperties(rows)) return;
  for (auto it = cache.values.begin(); it != cache.values.end();) {
    if (it->second.dirty) ++it;
    else it = cache.values.erase(it);
  }
  cache.unfetched.clear();
  for (Connection::PropertyRow& row : rows) {
    if (!row.fetched) {
      cache.unfetched.insert(row.name);
      continue;
    }
    auto found = cache.values.find(row.name);
    if (found != cache.values.end() && found->second.dirty) continue;
    Value v;
    v.kind = Value::Kind::Raw;
    v.isNull = !row.value;
    if (row.value) v.blob = std::move(*row.value);
    cache.values[std::move(row.name)] = std::move(v);
  }
  cache.complete = true;
}

// A prefetched value typed as `kind`, read as the backend's statement would have read it.
void settleRaw(Value& v, Value::Kind kind) {
  v.kind = kind;
  if (v.isNull) return;
  switch (kind) {
    case Value::Kind::Int: v.number = std::strtoll(std::string(v.blob.begin(), v.blob.end()).c_str(), nullptr, 10); break;
    case Value::Kind::Text: v.text.assign(v.blob.begin(), v.blob.end()); break;
    case Value::Kind::Blob:
    case Value::Kind::Raw: return;
  }
  v.blob.clear();
}

// The cache, emptied first when the file may have changed since it was filled.
Cache& validCache(Connection& conn) {
  Cache& cache = cacheOf(conn);
  // Inside a write transaction or a read snapshot no other connection's commit can show up,
  // so one check per transaction is enough.
  const bool writing = holdsWriteLock(conn) || conn.readSnapshot;
  if (writing && cache.checkedIn == conn.transactionSerial) return cache;
  const int64_t version = conn.dataVersion();
  if (version != cache.dataVersion) {
    // Another connection committed. Values not yet written belong to a transaction of this
    // connection that was rolled back (a live one excludes other writers): drop them too.
    cache.values.clear();
    cache.complete = false;
    cache.unfetched.clear();
    cache.dataVersion = version;
  }
  cache.checkedIn = writing ? conn.transactionSerial : 0;
  if (writing) takePrefetched(conn, cache);
  return cache;
}

const Value& read(Connection& conn, std::string_view name, Value::Kind kind) {
  Cache& cache = validCache(conn);
  std::string key(name);
  auto it = cache.values.find(key);
  if (it != cache.values.end() && it->second.kind == Value::Kind::Raw) settleRaw(it->second, kind);
  if (it != cache.values.end() && (it->second.isNull || it->second.kind == kind)) return it->second;
  if (it == cache.values.end() && cache.complete && !cache.unfetched.count(key)) {
    Value absent;
    absent.kind = kind;
    return cache.values[std::move(key)] = std::move(absent);
  }
  Value v;
  v.kind = kind;
  auto st = conn.prepare("SELECT value FROM properties WHERE name = ?1");
  st->bind(1, name);
  if (st->step() && !st->isNull(0)) {
    v.isNull = false;
    switch (kind) {
      case Value::Kind::Int: v.number = st->int64(0); break;
      case Value::Kind::Text: v.text = st->text(0); break;
      case Value::Kind::Blob:
      case Value::Kind::Raw: v.blob = st->blob(0); break;
    }
  }
  return cache.values[std::move(key)] = std::move(v);
}

// On PostgreSQL the value column is bytea, which holds a number as its decimal text (reading
// it back parses it); SQLite's untyped column keeps the integer.
Statement& bindInt(Statement& st, Connection& conn, int64_t value) {
  return conn.dialect() == Dialect::Postgres ? st.bind(2, std::to_string(value)) : st.bind(2, value);
}

std::unique_ptr<Statement> upsert(Connection& conn, std::string_view name) {
  auto st = conn.prepare(
      "INSERT INTO properties(name, value) VALUES(?1, ?2) "
      "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
  st->bind(1, name);
  return st;
}

void remember(Connection& conn, std::string_view name, Value v) {
  Cache& cache = validCache(conn);
  v.isNull = false;
  cache.values[std::string(name)] = std::move(v);
}

Value intValue(int64_t value) {
  Value v;
  v.isNull = false;
  v.number = value;
  return v;
}

}  // namespace

std::optional<int64_t> getInt(Connection& conn, std::string_view name) {
  const Value& v = read(conn, name, Value::Kind::Int);
  if (v.isNull) return std::nullopt;
  return v.number;
}

int64_t getInt(Connection& conn, std::string_view name, int64_t fallback) {
  return getInt(conn, name).value_or(fallback);
}

std::optional<std::string> getText(Connection& conn, std::string_view name) {
  const Value& v = read(conn, name, Value::Kind::Text);
  if (v.isNull) return std::nullopt;
  return v.text;
}

std::optional<Blob> getBlob(Connection& conn, std::string_view name) {
  const Value& v = read(conn, name, Value::Kind::Blob);
  if (v.isNull) return std::nullopt;
  return v.blob;
}

void set(Connection& conn, std::string_view name, int64_t value) {
  bindInt(*upsert(conn, name), conn, value).run();
  remember(conn, name, intValue(value));
}

void set(Connection& conn, std::string_view name, std::string_view text) {
  upsert(conn, name)->bind(2, text).run();
  Value v;
  v.kind = Value::Kind::Text;
  v.text = std::string(text);
  remember(conn, name, std::move(v));
}

void setBlob(Connection& conn, std::string_view name, const Blob& value) {
  upsert(conn, name)->bindBlob(2, value).run();
  Value v;
  v.kind = Value::Kind::Blob;
  v.blob = value;
  remember(conn, name, std::move(v));
}

void setLater(Connection& conn, std::string_view name, int64_t value) {
  if (!inTransaction(conn)) return set(conn, name, value);  // no commit would write it
  Value v = intValue(value);
  v.dirty = true;
  remember(conn, name, std::move(v));
}

void writeLater(Connection& conn) {
  if (!conn.propertyCache) return;
  // One statement for all of them, sent with the COMMIT where the backend can: on a server
  // each statement is a round trip, made while the writer lock is held.
  std::vector<std::pair<const std::string*, Value*>> dirty;
  for (auto& [name, v] : cacheOf(conn).values)
    if (v.dirty) dirty.emplace_back(&name, &v);
  if (dirty.empty()) return;
  std::string sql = "INSERT INTO properties(name, value) VALUES";
  for (size_t k = 0; k < dirty.size(); ++k)
    sql += (k ? ", (?" : "(?") + std::to_string(2 * k + 1) + ", ?" + std::to_string(2 * k + 2) + ")";
  sql += " ON CONFLICT(name) DO UPDATE SET value = excluded.value";
  auto st = conn.prepare(sql);
  atCommit(*st);
  for (size_t k = 0; k < dirty.size(); ++k) {
    const int at = int(2 * k + 1);
    st->bind(at, *dirty[k].first);
    if (conn.dialect() == Dialect::Postgres) st->bind(at + 1, std::to_string(dirty[k].second->number));
    else st->bind(at + 1, dirty[k].second->number);
  }
  st->run();
  for (auto& [name, v] : dirty) v->dirty = false;
}

void forgetCached(Connection& conn) {
  if (!conn.propertyCache) return;
  Cache& cache = cacheOf(conn);
  cache.complete = false;
  cache.unfetched.clear();
  auto& values = cache.values;
  for (auto it = values.begin(); it != values.end();) {
    if (it->second.dirty) ++it;
    else it = values.erase(it);
  }
}

}  // namespace quire::engine::store::prop
