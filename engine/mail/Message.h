// Mail messages as notes: composing a memo, reading its recipients, and the notes the router
// writes (a delivered copy, a delivery-failure report).
//
// A message is an ordinary document. What makes it mail is its items:
//   Form            "Memo" (a document sent with another form keeps it)
//   SendTo, CopyTo, BlindCopyTo   text lists of recipients (user or group names)
//   Subject, Body   text; Body is rich text (HTTYPE_COMPOSITE)
//   From, Principal the sending user
//   PostedDate      set when the message is sent
//   DeliveryPriority "N", "L" or "H" (normal, low, high)
//   DeliveredDate   set on each delivered copy
// Recipient entries are split at commas, semicolons and line breaks and trimmed; empty entries name
// nobody, so a SendTo list holding only "" counts as no recipient.
//
// Names of recipients and senders are compared in their abbreviated, case-folded form
// (db::nameKey: "CN=Ann Lee/O=Acme" equals "ann lee/acme").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/doc/Note.h"
#include "hitest/hitest.h"

namespace quire::engine::mail {

constexpr const char* kMemoForm = "Memo";
constexpr const char* kReportForm = "NonDelivery Report";
constexpr const char* kSendTo = "SendTo";
constexpr const char* kCopyTo = "CopyTo";
constexpr const char* kBlindCopyTo = "BlindCopyTo";
constexpr const char* kSubject = "Subject";
constexpr const char* kBody = "Body";
constexpr const char* kFrom = "From";
constexpr const char* kPrincipal = "Principal";
constexpr const char* kPostedDate = "PostedDate";
constexpr const char* kDeliveredDate = "DeliveredDate";
constexpr const char* kDeliveryPriority = "DeliveryPriority";

// Trimmed, non-empty names of a text separated by commas, semicolons or line breaks.
std::vector<std::string> splitAddresses(std::string_view text);

// A new, unsaved memo from the caller's mail record, sent by `sender`. Throws
// Error(HTFAIL_INVALID_ARGUMENT) for a priority outside HTMAILPRIORITY.
doc::Note composeMemo(const HTMAILREC& record, const std::string& sender);

enum class RecipientKind { To, Copy, BlindCopy };
struct Recipient {
  std::string name;
  RecipientKind kind = RecipientKind::To;
};

// Everybody the message is addressed to, in SendTo, CopyTo, BlindCopyTo order, each name
// once (the first occurrence decides its kind).
std::vector<Recipient> recipientsOf(const doc::Note& message);

// The sender of a message: From, else Principal; "" when neither is there.
std::string senderOf(const doc::Note& message);

// Stamps a message that is being sent: PostedDate = now; From and Principal = `sender`
// where the message has none.
void stampPosted(doc::Note& message, const std::string& sender);

// The copy a recipient's mail file receives (the message's items and attachments, blind
// copies removed, Form "Memo" when it has none, DeliveredDate now). `message` must hold
// its attachments' bytes (doc::prepareCopy). The copy keeps the message's UNID, which is
// how a repeated delivery is recognised.
doc::Note deliveredCopy(const doc::Note& message);

// The delivery-failure report for `message`, addressed to its sender. `failures` pairs each
// recipient that could not be reached with the reason. Its UNID is derived from the
// message's, so writing it twice is recognised too.
struct Failure {
  std::string recipient;
  std::string reason;
};
doc::Note failureReport(const doc::Note& message, const std::vector<Failure>& failures);

// The UNID of the failure report of the message with `unid`.
UNID reportUnid(const UNID& unid);

}  // namespace quire::engine::mail
