// Mail entry points, and the server console that runs the router on request.
//
// HTMailCreate makes a new, unsaved memo in the given database (engine/mail/Message.h lists
// its items); the caller may attach files and change items before HTMailSend, then closes
// it with HTDocumentClose. Every mail type makes a new memo: the call names no original
// document to reply to or forward.
//
// HTMailSend(doc, flags):
//   - the message needs a recipient in SendTo, CopyTo or BlindCopyTo
//     (HTFAIL_MAIL_NO_RECIPIENT otherwise, nothing is sent or saved), and the mail server
//     needs a directory database (HTFAIL_MAIL_NO_DIRECTORY otherwise);
//   - the mail server is the server the document's database was opened through, or the
//     local data directory with HTMAILSEND_LOCAL;
//   - PostedDate is set (and From/Principal, when missing, to the session user);
//   - with HTMAILSEND_SAVE the document is first saved in its own database, as
//     HTDocumentSave would (same access rules); a failing save sends nothing;
//   - a copy of the message with its attachments is deposited in the server's mail.box
//     (engine/mail/Router.h), and the router runs at once. Success means the message is
//     safely queued: what the router cannot deliver now stays queued (see
//     HTServerExecute "route") or comes back to the sender as a delivery-failure report.
//   Other flag bits are ignored.
//
// HTServerExecute(server, command, capacity, reply) understands:
//   "route"                      route the server's mail.box now; the reply sums up what
//                                happened; messages left queued after an error make the
//                                call fail with that error (the reply is written anyway)
//   "add server NAME DIRECTORY"  (local server only) configure a named server; a relative
//                                directory lies below the data directory; it is created
//                                when missing; a postgresql:// connection is kept as
//                                given (no password in it); quote words that hold blanks
//   "remove server NAME"         (local server only) forget a named server; its directory
//                                stays
//   "resolve NAME"               how mail to NAME would be routed: "person NAME MAILFILE",
//                                "group NAME", "unknown NAME" or "ambiguous NAME"
//   "directory"                  the server's data directory
//   "help"                       the list of commands
// The reply is cut to `capacity` bytes; a null reply needs capacity 0.
#include <cstring>
#include <system_error>

#include "engine/api/EntryPoints.h"
#include "engine/core/DateTime.h"
#include "engine/core/Engine.h"
#include "engine/core/Files.h"
#include "engine/core/Guard.h"
#include "engine/core/Handles.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/db/Directory.h"
#include "engine/db/Session.h"
#include "engine/doc/Document.h"
#include "engine/mail/MailDirectory.h"
#include "engine/mail/Message.h"
#include "engine/mail/Router.h"
#include "engine/store/Transaction.h"
#include "engine/store/Locator.h"

using namespace quire::engine;

namespace {

namespace fs = std::filesystem;

std::string describeRoute(const mail::RouteResult& r) {
  return "Routed " + std::to_string(r.messages) + " message(s): " + std::to_string(r.delivered) + " delivered, " +
         std::to_string(r.failed) + " undeliverable, " + std::to_string(r.held) + " held, " +
         std::to_string(r.errors) + " left queued";
}

// Words of a console command; double quotes group words with blanks.
std::vector<std::string> words(std::string_view command) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < command.size()) {
    while (i < command.size() && (command[i] == ' ' || command[i] == '\t')) ++i;
    if (i >= command.size()) break;
    std::string word;
    if (command[i] == '"') {
      size_t end = command.find('"', i + 1);
      if (end == std::string_view::npos) raise(HTFAIL_INVALID_ARGUMENT, "Unbalanced quote in server command");
      word.assign(command.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      while (i < command.size() && command[i] != ' ' && command[i] != '\t') word += command[i++];
    }
    out.push_back(std::move(word));
  }
  return out;
}

constexpr const char* kConsoleHelp =
    "Commands: route | add server NAME DIRECTORY | remove server NAME | resolve NAME | directory | help";

HTSTATUS addServer(const db::ServerRef& where, const std::vector<std::string>& w, std::string& reply) {
  if (where.named) return fail(HTFAIL_INVALID_ARGUMENT, "Servers are added on the local server only");
  if (w.size() != 4) return fail(HTFAIL_INVALID_ARGUMENT, "Usage: add server NAME DIRECTORY");
  const std::string name(trim(w[2]));
  if (name.empty() || name.find_first_of("=[]\r\n") != std::string::npos)
    return fail(HTFAIL_INVALID_ARGUMENT, "Server name '" + name + "' is empty or holds = [ ] or a line break");
  if (!fits(name, HT_SERVER_NAME_CAPACITY))
    return fail(HTFAIL_TEXT_TOO_LONG, "A server name may have at most " + std::to_string(HT_SERVER_NAME_CAPACITY - 1) + " bytes");
  db::ServerRef existing;
  if (db::resolveServer(name, existing) == HTSUCCESS && !existing.named)
    return fail(HTFAIL_INVALID_ARGUMENT, "'" + name + "' is the local server's name");
  fs::path directory = std::string(trim(w[3]));
  if (directory.empty()) return fail(HTFAIL_INVALID_ARGUMENT, "No directory given for server " + name);
  if (store::isServerUri(directory.native())) {
    // A connection is kept as given: it is no directory to make below the data directory.
    const std::string uri = directory.native();
    if (uri.find('?') != std::string::npos)
      return fail(HTFAIL_INVALID_ARGUMENT, "The server entry " + uri + " may not hold query parameters");
    const size_t authority = uri.find("://") + 3;
    const size_t at = uri.find('@', authority);
    if (at != std::string::npos && uri.find('/', authority) > at && uri.substr(authority, at - authority).find(':') != std::string::npos)
      return fail(HTFAIL_INVALID_ARGUMENT, "The server entry may not hold a password, which quire.ini would keep in "
                                           "plain text: give it through ~/.pgpass, PGPASSWORD or a service file");
    config().setServer(name, directory);
    reply = "Server " + name + " added: " + uri;
    return HTSUCCESS;
  }
  const fs::path absolute = directory.is_relative() ? config().dataDir() / directory : directory;
  files::ensureDirectory(absolute);
  config().setServer(name, directory);
  reply = "Server " + name + " added: " + absolute.string();
  return HTSUCCESS;
}

HTSTATUS removeServer(const db::ServerRef& where, const std::vector<std::string>& w, std::string& reply) {
  if (where.named) return fail(HTFAIL_INVALID_ARGUMENT, "Servers are removed on the local server only");
  if (w.size() != 3) return fail(HTFAIL_INVALID_ARGUMENT, "Usage: remove server NAME");
  const std::string name(trim(w[2]));
  if (!config().removeServer(name)) return fail(HTFAIL_SERVER_NOT_FOUND, "No server " + name + " is configured");
  reply = "Server " + name + " removed; its directory was left in place";
  return HTSUCCESS;
}

// How mail to NAME would be routed: "person NAME MAILFILE", "group NAME", "unknown NAME" or
// "ambiguous NAME", so a sender can tell which recipients cannot receive mail.
HTSTATUS resolveRecipient(const db::ServerRef& where, const std::vector<std::string>& w, std::string& reply) {
  if (w.size() != 2) return fail(HTFAIL_INVALID_ARGUMENT, "Usage: resolve NAME (quote a name with blanks)");
  const mail::MailDirectory directory(where.root);
  if (!directory.available()) return fail(HTFAIL_MAIL_NO_DIRECTORY, "Server has no directory database (names.nsf)");
  const auto match = directory.find(w[1]);
  switch (match.kind) {
    case mail::MailDirectory::Kind::Person:
      reply = "person " + match.person->name + " " + match.person->mailFile;
      break;
    case mail::MailDirectory::Kind::Group: reply = "group " + match.group->name; break;
    case mail::MailDirectory::Kind::Ambiguous: reply = "ambiguous " + w[1]; break;
    case mail::MailDirectory::Kind::Unknown: reply = "unknown " + w[1]; break;
  }
  return HTSUCCESS;
}

}  // namespace

HT_EXPORT HTSTATUS HTMailCreate(HTDBHANDLE db, HTINT mailType, const HTMAILREC* mail, HTUINT flags, HTDOCHANDLE* out) {
  return guard([&] {
    HT_REQUIRE_ARG(out);
    *out = 0;
    HT_REQUIRE_ARG(mail);
    if (mailType < HTMAILTYPE_MEMO || mailType > HTMAILTYPE_REPLY_TO_ALL)
      return fail(HTFAIL_INVALID_ARGUMENT, "Unknown mail type " + std::to_string(mailType));
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(db, h)) return s;
    doc::Note memo = mail::composeMemo(*mail, db::userName());
    memo.header.unid = store::newUnid();
    memo.header.created = memo.header.modified = dt::pack(dt::now());
    auto d = std::make_shared<doc::Document>(h, db, std::move(memo), true);
    d->dirty = true;
    doc::Document* raw = d.get();
    raw->self = HandleTable::instance().add(HandleKind::Document, std::move(d));
    *out = raw->self;
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTMailSend(HTDOCHANDLE doc, HTUINT flags) {
  return guard([&] {
    std::shared_ptr<doc::Document> d;
    if (HTSTATUS s = doc::lookupDocument(doc, d)) return s;
    if (mail::recipientsOf(d->note).empty())
      return fail(HTFAIL_MAIL_NO_RECIPIENT, "The message has no recipient: SendTo, CopyTo and BlindCopyTo are empty");
    db::ServerRef server;
    if (flags & HTMAILSEND_LOCAL) {
      if (HTSTATUS s = db::resolveServer("", server)) return s;
    } else {
      server = d->dbHandle().server();
    }
    if (!store::exists(server.root / db::kDirectoryFile))
      return fail(HTFAIL_MAIL_NO_DIRECTORY, "Server " + (server.named ? server.name : std::string("Local")) +
                                                " has no directory database " + db::kDirectoryFile +
                                                "; the message was not sent");

    mail::stampPosted(d->note, db::userName());
    d->changed();
    if (flags & HTMAILSEND_SAVE) {
      if (HTSTATUS s = doc::save(*d, store::Commit::Now)) return s;
    }
    doc::Note message = d->note;
    {
      db::Database& source = d->database();
      auto lock = source.lock();
      doc::prepareCopy(source.conn(), message);
    }
    mail::deposit(server, std::move(message));
    // The message is queued: whatever the router cannot do now stays queued for its next
    // run, so its outcome does not decide this call's.
    try {
      mail::route(server);
    } catch (const std::exception&) {
    }
    return HTSUCCESS;
  });
}

HT_EXPORT HTSTATUS HTServerExecute(const char* server, const char* command, HTUINT capacity, char* reply) {
  return guard([&] {
    if (!reply && capacity > 0) return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: reply");
    if (reply && capacity > 0) reply[0] = '\0';
    db::ServerRef ref;
    if (HTSTATUS s = db::resolveServer(textArg(server), ref)) return s;
    const std::vector<std::string> w = words(textArg(command));
    std::string text;
    HTSTATUS status = HTSUCCESS;
    if (w.empty()) {
      status = fail(HTFAIL_INVALID_ARGUMENT, "No server command given");
    } else if (equalsNoCase(w[0], "route") && (w.size() == 1 || (w.size() == 2 && equalsNoCase(w[1], "mail")))) {
      const mail::RouteResult r = mail::route(ref);
      text = describeRoute(r);
      if (r.errors) status = fail(r.firstStatus, r.firstError);
    } else if (w.size() >= 2 && equalsNoCase(w[0], "add") && equalsNoCase(w[1], "server")) {
      status = addServer(ref, w, text);
    } else if (w.size() >= 2 && equalsNoCase(w[0], "remove") && equalsNoCase(w[1], "server")) {
      status = removeServer(ref, w, text);
    } else if (w.size() == 1 && equalsNoCase(w[0], "directory")) {
      text = ref.root.string();
    } else if (equalsNoCase(w[0], "resolve")) {
      status = resolveRecipient(ref, w, text);
    } else if (equalsNoCase(w[0], "help")) {
      text = kConsoleHelp;
    } else {
      status = fail(HTFAIL_INVALID_ARGUMENT, "Unknown server command '" + w[0] + "'. " + kConsoleHelp);
    }
    if (reply && capacity > 0) copyText(reply, capacity, text);
    return status;
  });
}
