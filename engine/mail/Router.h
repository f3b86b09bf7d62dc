// The mail router: the outgoing queue of a server (mail.box in its data directory) and the
// delivery of every queued message into its recipients' mail files.
//
// Sending (`deposit`) saves the message in mail.box and queues it with one row per
// addressed name, in one transaction. Routing (`route`) then works through the queue, one
// message at a time, in steps that each commit on their own:
//   1. resolve: every unresolved name is looked up in the server's directory
//      (MailDirectory.h). A person gives a mail file; a group adds its members as new rows
//      (nested groups too; a name already on the message is not added twice, which also ends
//      cycles); an unknown or ambiguous name, or a person without a mail file, fails with
//      its reason ("User X not listed in the directory").
//   2. deliver: for each distinct mail file (several names may share one), the copy
//      (Message.h deliveredCopy: blind copies removed, DeliveredDate) is saved into the mail
//      file, which is created when missing with the recipient as its Manager and no access
//      for anyone else. Only then are that file's rows marked delivered.
//   3. report: once no row is pending, the failed names go to the sender in one
//      delivery-failure report, saved in the sender's mail file (found through the
//      directory). A sender without a mail file there: the report stays in mail.box and the
//      message is held there (queue state "held") rather than removed.
//   4. done: a message whose every row is delivered, reported or expanded is removed from
//      mail.box (a deletion stub remains).
// Nothing is delivered twice: a delivered copy keeps the message's UNID, and the report a
// UNID derived from it, so a step repeated after a crash between a mail file's commit and
// mail.box's finds the note already there and only marks the rows. Nothing is lost: a
// message leaves mail.box only after every recipient's outcome is committed, and an error
// (an unreadable directory, a full disk) leaves the message queued with the error recorded
// for the next run.
//
// Delivery writes through doc::saveNote, so full-text and view indexes of the mail files
// follow. No access checks are made here: the router acts for the server, not the user.
#pragma once

#include <cstdint>
#include <string>

#include "engine/db/Session.h"
#include "engine/doc/Note.h"
#include "hitest/hitest.h"

namespace quire::engine::mail {

constexpr const char* kMailBoxFile = "mail.box";

// Saves `message` in the server's mail.box (made when missing) and queues it for routing.
// The message's attachments must carry their bytes (doc::prepareCopy). Returns the UNID the
// message has in mail.box (a new one), which its delivered copies keep.
UNID deposit(const db::ServerRef& server, doc::Note message);

struct RouteResult {
  uint32_t messages = 0;   // messages looked at
  uint32_t delivered = 0;  // copies delivered into mail files
  uint32_t failed = 0;     // recipients reported as undeliverable
  uint32_t held = 0;       // messages held in mail.box (no mail file for the sender)
  uint32_t errors = 0;     // messages left queued after an error
  HTSTATUS firstStatus = HTSUCCESS;
  std::string firstError;  // what went wrong first, naming the message
};

// Routes every queued message of the server's mail.box (nothing when it has none).
RouteResult route(const db::ServerRef& server);

// Queue states of a message and of each of its recipients (exposed for tests and tools).
enum class QueueState : int { Queued = 0, Held = 1 };
enum class RecipientState : int { Unresolved = 0, Resolved = 1, Delivered = 2, Failed = 3, Reported = 4, Expanded = 5 };

}  // namespace quire::engine::mail
