#include "engine/mail/Message.h"

#include <set>

#include "engine/core/DateTime.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/db/Access.h"
#include "engine/doc/Composite.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"

namespace quire::engine::mail {
namespace {

void putComposite(doc::Note& note, std::string_view name, const doc::Composite& content) {
  note.put({std::string(name), HTTYPE_COMPOSITE, 0, content.encode()});
}

// The body of a message as rich text, whatever type the sender stored it as.
doc::Composite bodyOf(const doc::Note& message) {
  const store::StoredItem* body = message.find(kBody);
  doc::Composite content;
  if (!body || message.isSealed(kBody)) return content;
  if (body->type == HTTYPE_COMPOSITE && doc::Composite::decode(body->value, content)) return content;
  return doc::Composite::fromPlainText(doc::renderText(*body, doc::international()));
}

}  // namespace

std::vector<std::string> splitAddresses(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = trim(text.substr(start, end - start));
    if (!piece.empty()) out.emplace_back(piece);
    start = end + 1;
  }
  return out;
}

doc::Note composeMemo(const HTMAILREC& record, const std::string& sender) {
  static const char* const kPriorities[] = {"N", "L", "H"};
  if (record.priority > HTMAILPRIORITY_HIGH)
    raise(HTFAIL_INVALID_ARGUMENT, "Unknown mail priority " + std::to_string(record.priority) + " (0 normal, 1 low, 2 high)");
  doc::Note memo = doc::newNote(store::note_class::kDocument);
  memo.setText(doc::kFormItem, kMemoForm);
  const std::pair<const char*, const char*> lists[] = {
      {kSendTo, record.sendTo}, {kCopyTo, record.copyTo}, {kBlindCopyTo, record.blindCopyTo}};
  for (const auto& [name, text] : lists) {
    std::vector<std::string> names = splitAddresses(textArg(text));
    // SendTo is always there, so the document's Send appends to it like to any memo.
    if (!names.empty() || name == std::string_view(kSendTo)) memo.setTextList(name, names, doc::kItemNames);
  }
  memo.setText(kSubject, textArg(record.subject));
  putComposite(memo, kBody, doc::Composite::fromPlainText(textArg(record.body)));
  memo.setText(kFrom, sender, doc::kItemNames);
  memo.setText(kPrincipal, sender, doc::kItemNames);
  memo.setText(kDeliveryPriority, kPriorities[record.priority]);
  return memo;
}

std::vector<Recipient> recipientsOf(const doc::Note& message) {
  std::vector<Recipient> out;
  std::set<std::string> seen;
  const std::pair<const char*, RecipientKind> lists[] = {
      {kSendTo, RecipientKind::To}, {kCopyTo, RecipientKind::Copy}, {kBlindCopyTo, RecipientKind::BlindCopy}};
  for (const auto& [item, kind] : lists) {
    for (const std::string& entry : message.textList(item)) {
      for (std::string& name : splitAddresses(entry)) {
        if (seen.insert(db::nameKey(name)).second) out.push_back({std::move(name), kind});
      }
    }
  }
  return out;
}

std::string senderOf(const doc::Note& message) {
  for (const char* item : {kFrom, kPrincipal}) {
    std::vector<std::string> names = message.textList(item);
    for (const std::string& name : names)
      if (!trim(name).empty()) return std::string(trim(name));
  }
  return {};
}

void stampPosted(doc::Note& message, const std::string& sender) {
  message.setDateTime(kPostedDate, dt::now());
  for (const char* item : {kFrom, kPrincipal}) {
    if (!message.find(item) || trim(message.text(item)).empty()) message.setText(item, sender, doc::kItemNames);
  }
}

doc::Note deliveredCopy(const doc::Note& message) {
  doc::Note copy = message;
  copy.header = doc::newNote(store::note_class::kDocument).header;
  copy.header.unid = message.header.unid;
  copy.remove(kBlindCopyTo);
  if (trim(copy.text(doc::kFormItem)).empty()) copy.setText(doc::kFormItem, kMemoForm);
  copy.setDateTime(kDeliveredDate, dt::now());
  for (doc::Attachment& a : copy.attachments) a.id = 0;
  return copy;
}

UNID reportUnid(const UNID& unid) {
  // A fixed, invertible change of the message's UNID: the report of a message is always the
  // same note, and can never collide with the message itself.
  UNID out = unid;
  out.words[2] ^= 0x4E445250u;  // "NDRP"
  out.words[3] ^= 0x5245504Fu;
  return out;
}

doc::Note failureReport(const doc::Note& message, const std::vector<Failure>& failures) {
  doc::Note report = doc::newNote(store::note_class::kDocument);
  report.header.unid = reportUnid(message.header.unid);
  const std::string subject = message.text(kSubject);
  const std::string sender = senderOf(message);
  report.setText(doc::kFormItem, kReportForm);
  report.setTextList(kSendTo, {sender}, doc::kItemNames);
  report.setText(kFrom, "Mail Router", doc::kItemNames);
  report.setText(kPrincipal, "Mail Router", doc::kItemNames);
  report.setText(kSubject, "Delivery failure: " + subject);
  report.setText("OriginalSubject", subject);
  std::vector<std::string> names, reasons;
  for (const Failure& f : failures) {
    names.push_back(f.recipient);
    reasons.push_back(f.reason);
  }
  report.setTextList("FailedRecipients", names, doc::kItemNames);
  report.setTextList("FailureReasons", reasons);
  if (const store::StoredItem* posted = message.find(kPostedDate)) {
    store::StoredItem original = *posted;
    original.name = "OriginalPostedDate";
    report.put(std::move(original));
  }
  report.setDateTime(kPostedDate, dt::now());
  report.setDateTime(kDeliveredDate, dt::now());

  // The body tells what failed and keeps the original text, so a message that reached
  // nobody is not lost to its sender.
  std::string text = "Your message \"" + subject + "\" could not be delivered to:\n";
  for (const Failure& f : failures) text += "  " + f.recipient + ": " + f.reason + "\n";
  text += "\nThe original message follows.\n";
  doc::Composite body = doc::Composite::fromPlainText(text);
  body.append(bodyOf(message));
  putComposite(report, kBody, body);
  return report;
}

}  // namespace quire::engine::mail
