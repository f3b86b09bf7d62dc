// Replication between the local data directory and a named server's data directory.
//
// Databases are replicas when they share a replica ID; their paths may differ. A database
// named explicitly that has no replica on the server gets one there, at the same path: a new
// file with the same replica ID, title, class and access-control list, filled by the
// replication that follows. Asked for every database, the replicator only takes local
// databases that already have a replica on the server (mail.box, the router's queue, never
// replicates).
//
// Documents and design notes are matched by UNID and their versions compared by sequence
// number, then sequence time. Each side remembers, per peer file, the version both sides
// agreed on at the end of the last replication (table repl_seen, in the local database), so
// it can tell who changed a note since:
//   - only one side changed it: the newer version (normally the changed one) goes to the
//     other side;
//   - both changed it: a conflict. The newer version (higher sequence, then later sequence
//     time; the server's on a full tie) wins on both sides; the other version is saved on
//     both sides as a new response document to the winner carrying the item "$Conflict".
//     A deletion that wins keeps the edited version the same way; an edit that wins over a
//     deletion brings the document back. Design notes have no conflict documents: the newer
//     one wins;
//   - no agreed version is known (replicas that never replicated with each other): the
//     newer version wins, without a conflict document, except that two live versions with
//     the same sequence number and different times are two edits of one version: a conflict.
// Deletions travel as deletion stubs. Attachments travel with their documents. Writes go
// through doc::saveNote / doc::deleteNote, so the indexes of each side follow.
//
// Which notes are looked at: those changed since the last replication in the direction
// concerned, by the change counter each side keeps (replication_history rows of the local
// database: direction 1 = pull, last_change = the server's counter before the last pull;
// direction 2 = push, last_change = the local counter before the last push). The server's
// database gets the mirror-image rows for the record. Counters are taken before this run's
// own writes, so notes written by a replication are compared once more next time (and found
// equal) rather than a change being missed.
//
// Access: the session user's access to the server's database decides (the local one's ACL
// too where it is enforced). Reading needs Reader; documents whose Readers items leave the
// user out are not replicated; adding, changing and deleting need what the same change
// through the API needs (doc::requireCreate / requireChange / requireDelete). A refused note
// is counted as an error and tried again next time.
//
// Each database pair is replicated under both databases' locks, in one transaction per side;
// the server's side commits first and the local side, which holds the agreed versions and
// the marks, last. A failure before the last commit rolls the local side back, so the next
// run repeats the work and finds what the server already has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/Database.h"
#include "engine/db/Session.h"
#include "hitest/hitest.h"

namespace quire::engine::repl {

// HTServerReplicate flag bits. 0x4 and 0x400 are the library's "every database, no list";
// the direction bits are the engine's. Other bits are ignored.
constexpr HTUINT kPullOnly = 0x0001;
constexpr HTUINT kPushOnly = 0x0002;
constexpr HTUINT kAllDatabases = 0x0004;
constexpr HTUINT kAllDatabasesToo = 0x0400;

struct Options {
  bool pull = true;
  bool push = true;
};

// What a run did, and the first thing that failed.
struct Outcome {
  HTREPLSTATS stats{};
  HTSTATUS firstStatus = HTSUCCESS;
  std::string firstError;
  void failed(HTSTATUS status, const std::string& detail);
};

// Replicates the local databases `paths` (API paths; with `all`, every local database with
// a replica on the server) with `server`. Failures of single databases or notes are counted
// in the outcome; the run goes on with the rest.
void replicate(const db::ServerRef& server, const Options& options, bool all, const std::vector<std::string>& paths,
               Outcome& outcome);

// One pair of replicas: the local one and the server's. Throws Error when the pair cannot be
// replicated (nothing is committed then); refused notes are counted in `outcome`.
struct Replica {
  std::shared_ptr<db::Database> database;
  db::ServerRef server;
  std::string apiPath;
};
void replicatePair(const Replica& local, const Replica& remote, const Options& options, Outcome& outcome);

// Makes a new, empty replica of `source` at `apiPath` on `server` (HTFAIL_DB_EXISTS when a
// file is there). Returns the opened database.
std::shared_ptr<db::Database> createReplica(db::Database& source, const db::ServerRef& server,
                                            const std::string& apiPath);

}  // namespace quire::engine::repl
