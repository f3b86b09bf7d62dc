#include "engine/mail/Router.h"

#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "engine/core/Paths.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Database.h"
#include "engine/db/Directory.h"
#include "engine/mail/MailDirectory.h"
#include "engine/mail/Message.h"
#include "engine/store/AclStore.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"
#include "engine/store/Locator.h"

namespace quire::engine::mail {
namespace {

namespace fs = std::filesystem;

// The queue lives in mail.box only, so its tables are made there on first use rather than
// in every database through a schema part.
constexpr const char* kQueueVersionProperty = "mail.queue_version";
constexpr int64_t kQueueVersion = 1;

// One router at a time per process: two threads routing the same queue would only repeat
// each other's work.
std::mutex gRouteMutex;

[[noreturn]] void raiseRecorded(HTSTATUS status) {
  raise(status, errorText(status).text);
}

void ensureQueue(store::Connection& conn) {
  if (store::prop::getInt(conn, kQueueVersionProperty, 0) >= kQueueVersion) return;
  conn.exec(
      "CREATE TABLE IF NOT EXISTS mail_queue("
      "  note_id INTEGER PRIMARY KEY REFERENCES notes(note_id) ON DELETE CASCADE,"
      "  state INTEGER NOT NULL DEFAULT 0,"
      "  attempts INTEGER NOT NULL DEFAULT 0,"
      "  last_error TEXT NOT NULL DEFAULT '');"
      "CREATE TABLE IF NOT EXISTS mail_recipients("
      "  note_id INTEGER NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,"
      "  name_key TEXT NOT NULL,"
      "  name TEXT NOT NULL,"
      "  kind INTEGER NOT NULL,"
      "  state INTEGER NOT NULL,"
      "  reason TEXT NOT NULL DEFAULT '',"
      "  PRIMARY KEY(note_id, name_key));");
  // PostgreSQL has no implicit row order to read recipients back in; a column gives one.
  if (conn.dialect() == store::Dialect::Postgres)
    conn.exec("ALTER TABLE mail_recipients ADD COLUMN IF NOT EXISTS rowid BIGINT GENERATED ALWAYS AS IDENTITY");
  store::prop::set(conn, kQueueVersionProperty, kQueueVersion);
}

std::shared_ptr<db::Database> openMailBox(const db::ServerRef& server, bool create) {
  const fs::path file = server.root / kMailBoxFile;
  if (!store::exists(file)) {
    if (!create) return nullptr;
    db::CreateOptions options;
    options.title = "Outgoing mail";
    HTSTATUS s = db::create(server.name, kMailBoxFile, options);
    if (s && s != HTFAIL_DB_EXISTS) raiseRecorded(s);
  }
  auto box = db::openFile(file);
  auto lock = box->lock();
  store::Transaction tx(box->conn());
  ensureQueue(box->conn());
  tx.commit();
  return box;
}

// Kind column values: the recipient kinds, and members added by group expansion.
constexpr int kMemberKind = 3;

void addRecipient(store::Connection& conn, HTID message, const std::string& name, int kind) {
  auto st = conn.prepare(
      "INSERT INTO mail_recipients(note_id, name_key, name, kind, state) VALUES(?1, ?2, ?3, ?4, 0) "
      "ON CONFLICT(note_id, name_key) DO NOTHING");
  st->bind(1, int64_t(message)).bind(2, db::nameKey(name)).bind(3, name).bind(4, kind);
  st->run();
}

struct Row {
  std::string key;
  std::string name;
  RecipientState state = RecipientState::Unresolved;
  std::string reason;
};

std::vector<Row> readRows(store::Connection& conn, HTID message) {
  auto st = conn.prepare("SELECT name_key, name, state, reason FROM mail_recipients WHERE note_id = ?1 ORDER BY rowid");
  st->bind(1, int64_t(message));
  std::vector<Row> rows;
  while (st->step()) rows.push_back({st->text(0), st->text(1), RecipientState(st->int64(2)), st->text(3)});
  return rows;
}

void setState(store::Connection& conn, HTID message, const std::string& key, RecipientState state,
              const std::string& reason = {}) {
  auto st = conn.prepare("UPDATE mail_recipients SET state = ?3, reason = ?4 WHERE note_id = ?1 AND name_key = ?2");
  st->bind(1, int64_t(message)).bind(2, key).bind(3, int64_t(state)).bind(4, reason);
  st->run();
}

// Where a person's mail goes: the file below the mail server's directory, or why not.
struct Destination {
  db::ServerRef server;
  paths::Resolved file;
  std::string failure;  // non-empty: no destination
};

Destination destinationOf(const db::ServerRef& home, const Person& person, const fs::path& mailBox) {
  Destination d;
  if (person.mailFile.empty()) {
    d.failure = "User " + person.name + " has no mail file in the directory";
    return d;
  }
  d.server = home;
  if (!person.mailServer.empty()) {
    db::ServerRef other;
    if (db::resolveServer(person.mailServer, other) != HTSUCCESS) {
      d.failure = "Mail server " + person.mailServer + " of " + person.name + " is not known";
      return d;
    }
    d.server = other;
  }
  if (paths::resolve(d.server.root, person.mailFile, d.file) != HTSUCCESS || d.file.apiPath.empty()) {
    d.failure = "Mail file " + person.mailFile + " of " + person.name + " is not a path in the data directory of its server";
    return d;
  }
  if (store::sameDatabase(d.file.file, mailBox)) {
    d.failure = "Mail file " + person.mailFile + " of " + person.name + " is the router's own mail.box";
    return d;
  }
  return d;
}

// The recipient's mail file, made when missing: theirs alone, with them as Manager.
std::shared_ptr<db::Database> openMailFile(const Destination& d, const std::string& owner) {
  if (!store::exists(d.file.file)) {
    db::CreateOptions options;
    options.title = "Mail of " + owner;
    HTSTATUS s = db::create(d.server.name, d.file.apiPath, options);
    if (s == HTSUCCESS) {
      auto made = db::openFile(d.file.file);
      auto lock = made->lock();
      store::Transaction tx(made->conn());
      store::Connection& conn = made->conn();
      // create() listed whoever routed as Manager; the mailbox belongs to its owner.
      const std::string creator = db::userName();
      if (db::nameKey(creator) != db::nameKey(owner)) store::acl::remove(conn, creator);
      if (auto entry = store::acl::find(conn, owner)) {
        entry->level = HTACLLEVEL_MANAGER;
        store::acl::update(conn, owner, *entry);
      } else {
        store::acl::insert(conn, {owner, HTACLLEVEL_MANAGER, 0, {}});
      }
      store::acl::update(conn, store::acl::kDefaultEntry, {store::acl::kDefaultEntry, HTACLLEVEL_NO_ACCESS, 0, {}});
      tx.commit();
      return made;
    }
    if (s != HTFAIL_DB_EXISTS) raiseRecorded(s);
  }
  return db::openFile(d.file.file);
}

// Saves `note` into `target` unless a note of its UNID is there already (an earlier,
// interrupted run delivered it). True when it was written now.
bool saveOnce(db::Database& target, doc::Note note) {
  auto lock = target.lock();
  store::Connection& conn = target.conn();
  store::Transaction tx(conn);
  if (store::findByUnid(conn, note.header.unid)) return false;
  doc::saveNote(target, conn, note, doc::SaveMode::Edit);
  tx.commit();
  return true;
}

class MessageRouter {
 public:
  MessageRouter(const db::ServerRef& server, db::Database& box, const MailDirectory& directory, RouteResult& result)
      : server_(server), box_(box), directory_(directory), result_(result) {}

  void run(HTID id) {
    std::optional<doc::Note> message;
    {
      auto lock = box_.lock();
      message = doc::loadNote(box_, box_.conn(), id, true);
    }
    if (!message || message->header.deleted) {
      forget(id);
      return;
    }
    id_ = id;
    message_ = std::move(*message);
    resolve();
    deliver();
    report();
    finish();
  }

 private:
  void resolve() {
    auto lock = box_.lock();
    store::Connection& conn = box_.conn();
    store::Transaction tx(conn);
    if (readRows(conn, id_).empty()) {
      for (const Recipient& r : recipientsOf(message_)) addRecipient(conn, id_, r.name, int(r.kind));
      if (readRows(conn, id_).empty()) {
        addRecipient(conn, id_, "(no recipient)", 0);
        setState(conn, id_, db::nameKey("(no recipient)"), RecipientState::Failed, "The message names no recipient");
      }
    }
    // Group members are added as new unresolved rows, so repeat until none is left.
    for (bool again = true; again;) {
      again = false;
      for (const Row& row : readRows(conn, id_)) {
        if (row.state != RecipientState::Unresolved) continue;
        const MailDirectory::Match match = directory_.find(row.name);
        switch (match.kind) {
          case MailDirectory::Kind::Person:
            setState(conn, id_, row.key, RecipientState::Resolved);
            break;
          case MailDirectory::Kind::Group:
            for (const std::string& member : match.group->members) addRecipient(conn, id_, member, kMemberKind);
            setState(conn, id_, row.key, RecipientState::Expanded);
            again = true;
            break;
          case MailDirectory::Kind::Ambiguous:
            setState(conn, id_, row.key, RecipientState::Failed, "Name " + row.name + " is ambiguous in the directory");
            break;
          case MailDirectory::Kind::Unknown:
            setState(conn, id_, row.key, RecipientState::Failed, "User " + row.name + " not listed in the directory");
            break;
        }
      }
    }
    tx.commit();
  }

  void deliver() {
    std::vector<Row> rows;
    {
      auto lock = box_.lock();
      rows = readRows(box_.conn(), id_);
    }
    // Names that share a mail file get one copy.
    struct Target {
      Destination destination;
      std::string owner;
      std::vector<std::string> keys;
    };
    std::map<std::string, Target> targets;
    std::vector<std::pair<std::string, std::string>> failures;  // key, reason
    for (const Row& row : rows) {
      if (row.state != RecipientState::Resolved) continue;
      const MailDirectory::Match match = directory_.find(row.name);
      if (match.kind != MailDirectory::Kind::Person) {
        // The directory changed since the name was resolved: resolve it again next time.
        auto lock = box_.lock();
        store::Transaction tx(box_.conn());
        setState(box_.conn(), id_, row.key, RecipientState::Unresolved);
        tx.commit();
        continue;
      }
      Destination d = destinationOf(server_, *match.person, box_.file());
      if (!d.failure.empty()) {
        failures.emplace_back(row.key, d.failure);
        continue;
      }
      std::error_code ec;
      fs::path canonical = fs::weakly_canonical(d.file.file, ec);
      Target& t = targets[foldCase((ec ? d.file.file : canonical).string())];
      if (t.keys.empty()) {
        t.destination = std::move(d);
        t.owner = match.person->name;
      }
      t.keys.push_back(row.key);
    }
    if (!failures.empty()) {
      auto lock = box_.lock();
      store::Transaction tx(box_.conn());
      for (const auto& [key, reason] : failures) setState(box_.conn(), id_, key, RecipientState::Failed, reason);
      tx.commit();
    }
    for (auto& [file, target] : targets) {
      auto mailFile = openMailFile(target.destination, target.owner);
      if (saveOnce(*mailFile, deliveredCopy(message_))) ++result_.delivered;
      auto lock = box_.lock();
      store::Transaction tx(box_.conn());
      for (const std::string& key : target.keys) setState(box_.conn(), id_, key, RecipientState::Delivered);
      tx.commit();
    }
  }

  void report() {
    std::vector<Row> rows;
    {
      auto lock = box_.lock();
      rows = readRows(box_.conn(), id_);
    }
    std::vector<Failure> failures;
    for (const Row& row : rows) {
      if (row.state == RecipientState::Unresolved || row.state == RecipientState::Resolved) return;
      if (row.state == RecipientState::Failed) failures.push_back({row.name, row.reason});
    }
    if (failures.empty()) return;

    doc::Note note = failureReport(message_, failures);
    std::string heldBecause;
    const std::string sender = senderOf(message_);
    const MailDirectory::Match match = directory_.find(sender);
    std::optional<Destination> home;
    if (match.kind == MailDirectory::Kind::Person) {
      Destination d = destinationOf(server_, *match.person, box_.file());
      if (d.failure.empty()) home = std::move(d);
      else heldBecause = d.failure;
    } else {
      heldBecause = "Sender " + (sender.empty() ? std::string("(unknown)") : sender) + " has no mail file in the directory";
    }
    if (home) {
      auto mailFile = openMailFile(*home, match.person->name);
      saveOnce(*mailFile, std::move(note));
    } else {
      saveOnce(box_, std::move(note));
    }
    auto lock = box_.lock();
    store::Connection& conn = box_.conn();
    store::Transaction tx(conn);
    for (const Row& row : rows)
      if (row.state == RecipientState::Failed) setState(conn, id_, row.key, RecipientState::Reported, row.reason);
    if (!home) {
      auto st = conn.prepare("UPDATE mail_queue SET state = ?2, last_error = ?3 WHERE note_id = ?1");
      st->bind(1, int64_t(id_)).bind(2, int64_t(QueueState::Held));
      st->bind(3, heldBecause + "; the delivery-failure report is kept in mail.box");
      st->run();
    }
    tx.commit();
    result_.failed += uint32_t(failures.size());
    if (!home) ++result_.held;
  }

  void finish() {
    auto lock = box_.lock();
    store::Connection& conn = box_.conn();
    for (const Row& row : readRows(conn, id_)) {
      if (row.state != RecipientState::Delivered && row.state != RecipientState::Reported &&
          row.state != RecipientState::Expanded)
        return;
    }
    auto st = conn.prepare("SELECT state FROM mail_queue WHERE note_id = ?1");
    st->bind(1, int64_t(id_));
    if (st->step() && st->int64(0) == int64_t(QueueState::Held)) return;
    store::Transaction tx(conn);
    forgetRows(conn, id_);
    doc::deleteNote(box_, conn, id_);
    tx.commit();
  }

  void forget(HTID id) {
    auto lock = box_.lock();
    store::Transaction tx(box_.conn());
    forgetRows(box_.conn(), id);
    tx.commit();
  }

  static void forgetRows(store::Connection& conn, HTID id) {
    for (const char* sql : {"DELETE FROM mail_recipients WHERE note_id = ?1", "DELETE FROM mail_queue WHERE note_id = ?1"}) {
      auto st = conn.prepare(sql);
      st->bind(1, int64_t(id));
      st->run();
    }
  }

  const db::ServerRef& server_;
  db::Database& box_;
  const MailDirectory& directory_;
  RouteResult& result_;
  HTID id_ = 0;
  doc::Note message_;
};

void recordError(db::Database& box, HTID id, HTSTATUS status, const std::string& what, RouteResult& result) {
  ++result.errors;
  const std::string text = "Message " + std::to_string(id) + " in mail.box stays queued: " + what;
  if (result.firstStatus == HTSUCCESS) {
    result.firstStatus = status;
    result.firstError = text;
  }
  try {
    auto lock = box.lock();
    store::Transaction tx(box.conn());
    auto st = box.conn().prepare("UPDATE mail_queue SET attempts = attempts + 1, last_error = ?2 WHERE note_id = ?1");
    st->bind(1, int64_t(id)).bind(2, what);
    st->run();
    tx.commit();
  } catch (const std::exception&) {
    // The error is reported to the caller either way; the record is only a convenience.
  }
}

}  // namespace

UNID deposit(const db::ServerRef& server, doc::Note message) {
  const std::vector<Recipient> recipients = recipientsOf(message);
  if (recipients.empty()) raise(HTFAIL_MAIL_NO_RECIPIENT, "The message has no recipient");
  auto box = openMailBox(server, true);
  auto lock = box->lock();
  store::Connection& conn = box->conn();
  store::Transaction tx(conn);
  message.header = doc::newNote(store::note_class::kDocument).header;
  for (doc::Attachment& a : message.attachments) a.id = 0;
  doc::saveNote(*box, conn, message, doc::SaveMode::Edit);
  auto st = conn.prepare("INSERT INTO mail_queue(note_id, state) VALUES(?1, 0)");
  st->bind(1, int64_t(message.header.id));
  st->run();
  for (const Recipient& r : recipients) addRecipient(conn, message.header.id, r.name, int(r.kind));
  tx.commit();
  return message.header.unid;
}

RouteResult route(const db::ServerRef& server) {
  std::lock_guard routing(gRouteMutex);
  RouteResult result;
  auto box = openMailBox(server, false);
  if (!box) return result;
  std::vector<HTID> queued;
  {
    auto lock = box->lock();
    auto st = box->conn().prepare("SELECT note_id FROM mail_queue WHERE state = ?1 ORDER BY note_id");
    st->bind(1, int64_t(QueueState::Queued));
    while (st->step()) queued.push_back(HTID(st->int64(0)));
  }
  if (queued.empty()) return result;

  const MailDirectory directory(server.root);
  for (HTID id : queued) {
    ++result.messages;
    if (!directory.available()) {
      recordError(*box, id, HTFAIL_MAIL_NO_DIRECTORY,
                  "the server has no directory database " + std::string(db::kDirectoryFile), result);
      continue;
    }
    try {
      MessageRouter(server, *box, directory, result).run(id);
    } catch (const Error& e) {
      recordError(*box, id, e.code(), e.what(), result);
    } catch (const std::bad_alloc&) {
      recordError(*box, id, HTFAIL_NO_MEMORY, "out of memory", result);
    } catch (const std::exception& e) {
      recordError(*box, id, HTFAIL_INTERNAL, e.what(), result);
    }
  }
  return result;
}

}  // namespace quire::engine::mail
