// Mail through the real engine: HTMailCreate/HTMailSend, the mail.box queue, routing through
// the directory into mail files, failure reports, groups, and repeated routing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EngineFixture.h"
#include "engine/db/Database.h"
#include "engine/doc/Composite.h"
#include "engine/doc/Note.h"
#include "engine/mail/Message.h"
#include "engine/mail/Router.h"
#include "engine/store/AclStore.h"
#include "engine/store/Locator.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;

class MailTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    actAs("Sam Sender");
  }

  std::shared_ptr<db::Database> openDb(const fs::path& relative) { return db::openFile(locate(relative.c_str())); }

  // A directory database with people and groups, written through the document layer.
  void makeDirectory() {
    ASSERT_EQ(HTDatabaseCreate(server(), "names.nsf", "Directory", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
  }

  void addDocument(const std::function<void(doc::Note&)>& fill, const char* path = "names.nsf") {
    auto db = openDb(path);
    auto lock = db->lock();
    store::Transaction tx(db->conn());
    doc::Note note = doc::newNote();
    fill(note);
    doc::saveNote(*db, db->conn(), note);
    tx.commit();
  }

  void addPerson(std::vector<std::string> fullNames, const std::string& mailFile, const std::string& shortName = "") {
    addDocument([&](doc::Note& n) {
      n.setText("Form", "Person");
      n.setTextList("FullName", fullNames);
      if (!shortName.empty()) n.setText("ShortName", shortName);
      n.setText("MailFile", mailFile);
    });
  }

  void addGroup(const std::string& name, std::vector<std::string> members) {
    addDocument([&](doc::Note& n) {
      n.setText("Form", "Group");
      n.setText("ListName", name);
      n.setTextList("Members", members);
    });
  }

  // Documents of `form` in the database at `relative` (none when the file does not exist).
  std::vector<doc::Note> documents(const fs::path& relative, const std::string& form) {
    std::vector<doc::Note> out;
    if (!store::exists(locate(relative.c_str()))) return out;
    auto db = openDb(relative);
    auto lock = db->lock();
    auto st = db->conn().prepare("SELECT note_id FROM notes WHERE deleted = 0 AND note_class = 1 ORDER BY note_id");
    std::vector<HTID> ids;
    while (st->step()) ids.push_back(HTID(st->int64(0)));
    for (HTID id : ids) {
      auto note = doc::loadNote(*db, db->conn(), id, true);
      if (note && note->text("Form") == form) out.push_back(std::move(*note));
    }
    return out;
  }

  int queued(const char* where = "SELECT COUNT(*) FROM mail_queue") {
    auto db = openDb("mail.box");
    auto lock = db->lock();
    auto st = db->conn().prepare(where);
    return st->step() ? int(st->int64(0)) : -1;
  }

  HTDBHANDLE senderDb() { return createAndOpen("mail/sam.nsf", "Sam"); }

  // Creates and sends a memo from `db`; returns HTMailSend's result.
  HTSTATUS send(HTDBHANDLE db, const char* to, const char* cc, const char* bcc, const char* subject, const char* body,
                HTUINT flags = 0, const std::string& attach = {}) {
    HTMAILREC rec{};
    rec.sendTo = to;
    rec.copyTo = cc;
    rec.blindCopyTo = bcc;
    rec.subject = subject;
    rec.body = body;
    rec.priority = HTMAILPRIORITY_HIGH;
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTMailCreate(db, 0, &rec, 0, &doc), HTSUCCESS);
    if (!attach.empty()) {
      EXPECT_EQ(HTAttachmentAttach(doc, attach.c_str(), nullptr, 0, 0), HTSUCCESS);
    }
    HTSTATUS s = HTMailSend(doc, flags);
    EXPECT_EQ(HTDocumentClose(doc, 0x20000), HTSUCCESS);
    return s;
  }

  static std::string bodyText(const doc::Note& note) {
    const store::StoredItem* body = note.find("Body");
    doc::Composite c;
    if (!body || body->type != HTTYPE_COMPOSITE || !doc::Composite::decode(body->value, c)) return "";
    return c.plainText();
  }
};

TEST_F(MailTest, AddressListsAreSplitAndTrimmed) {
  EXPECT_EQ(mail::splitAddresses(" Ann Lee, ;Bob ,,\nCid ;"), (std::vector<std::string>{"Ann Lee", "Bob", "Cid"}));
  EXPECT_TRUE(mail::splitAddresses("  , ; ").empty());
  EXPECT_NE(mail::reportUnid(UNID{{1, 2, 3, 4}}).words[2], 3u);
}

TEST_P(MailTest, DeliversToEveryRecipientWithAttachmentAndHidesBlindCopies) {
  makeDirectory();
  addPerson({"CN=Ann Lee/O=Acme"}, "mail\\ann.nsf");
  addPerson({"Bob Stone"}, "mail\\bob.nsf", "bstone");
  addPerson({"Cid Moss"}, "mail\\cid.nsf");
  const fs::path file = dataDir_ / "report.bin";
  std::string bytes("PK\0\x01\xff binary", 13);
  std::ofstream(file, std::ios::binary) << bytes;

  HTDBHANDLE db = senderDb();
  ASSERT_EQ(send(db, "Ann Lee", "BSTONE", "cid moss", "Quarterly", "Figures attached.", 0, file.string()), HTSUCCESS)
      << message(HTFAIL_INTERNAL);

  for (const char* path : {"mail/ann.nsf", "mail/bob.nsf", "mail/cid.nsf"}) {
    SCOPED_TRACE(path);
    auto memos = documents(path, "Memo");
    ASSERT_EQ(memos.size(), 1u);
    const doc::Note& memo = memos[0];
    EXPECT_EQ(memo.text("Subject"), "Quarterly");
    EXPECT_EQ(bodyText(memo), "Figures attached.");
    EXPECT_EQ(memo.text("From"), "Sam Sender");
    EXPECT_EQ(memo.text("DeliveryPriority"), "H");
    EXPECT_EQ(memo.textList("SendTo"), std::vector<std::string>{"Ann Lee"});
    EXPECT_EQ(memo.find("BlindCopyTo"), nullptr);
    EXPECT_NE(memo.find("DeliveredDate"), nullptr);
    EXPECT_NE(memo.find("PostedDate"), nullptr);
    ASSERT_EQ(memo.attachments.size(), 1u);
    EXPECT_EQ(memo.attachments[0].name, "report.bin");
    ASSERT_TRUE(memo.attachments[0].bytes);
    EXPECT_EQ(std::string(memo.attachments[0].bytes->begin(), memo.attachments[0].bytes->end()), bytes);
  }
  // Each mail file belongs to its owner alone, not to whoever sent the first message.
  auto ann = openDb("mail/ann.nsf");
  {
    auto lock = ann->lock();
    auto owner = store::acl::find(ann->conn(), "CN=Ann Lee/O=Acme");
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->level, HTACLLEVEL_MANAGER);
    EXPECT_FALSE(store::acl::find(ann->conn(), "Sam Sender"));
    EXPECT_EQ(store::acl::find(ann->conn(), "-Default-")->level, HTACLLEVEL_NO_ACCESS);
  }
  EXPECT_EQ(queued(), 0);
  EXPECT_TRUE(documents("mail.box", "Memo").empty());
  // Without the save flag the sender's database keeps nothing.
  EXPECT_TRUE(documents("mail/sam.nsf", "Memo").empty());
  HTDatabaseClose(db, 0);
}

TEST_P(MailTest, UnknownRecipientGivesTheSenderAFailureReport) {
  makeDirectory();
  addPerson({"Sam Sender"}, "mail\\sam.nsf");
  addPerson({"Ann Lee"}, "mail\\ann.nsf");
  HTDBHANDLE db = senderDb();
  ASSERT_EQ(send(db, "Ann Lee, Nobody Here", "", "", "Lunch", "At noon", HTMAILSEND_SAVE), HTSUCCESS);

  EXPECT_EQ(documents("mail/ann.nsf", "Memo").size(), 1u);
  auto reports = documents("mail/sam.nsf", "NonDelivery Report");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].textList("FailedRecipients"), std::vector<std::string>{"Nobody Here"});
  EXPECT_EQ(reports[0].textList("FailureReasons"), std::vector<std::string>{"User Nobody Here not listed in the directory"});
  EXPECT_EQ(reports[0].text("OriginalSubject"), "Lunch");
  EXPECT_NE(bodyText(reports[0]).find("At noon"), std::string::npos);
  // The save flag kept the sent memo in the sender's own database too.
  auto saved = documents("mail/sam.nsf", "Memo");
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_NE(saved[0].find("PostedDate"), nullptr);
  EXPECT_EQ(queued(), 0);
  HTDatabaseClose(db, 0);
}

TEST_P(MailTest, ReportForASenderOutsideTheDirectoryStaysInMailBox) {
  makeDirectory();
  addPerson({"Ann Lee"}, "..\\..\\outside.nsf");  // a mail file that would leave the data directory
  HTDBHANDLE db = senderDb();
  ASSERT_EQ(send(db, "Ann Lee; Ghost", "", "", "Hello", "Hi"), HTSUCCESS);

  auto reports = documents("mail.box", "NonDelivery Report");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].textList("FailedRecipients"), (std::vector<std::string>{"Ann Lee", "Ghost"}));
  EXPECT_NE(reports[0].textList("FailureReasons")[0].find("not a path in the data directory"), std::string::npos);
  // The message stays, held, next to its report; routing again changes nothing.
  EXPECT_EQ(documents("mail.box", "Memo").size(), 1u);
  EXPECT_EQ(queued("SELECT COUNT(*) FROM mail_queue WHERE state = 1"), 1);
  char reply[200];
  ASSERT_EQ(HTServerExecute(server(), "route", sizeof reply, reply), HTSUCCESS);
  EXPECT_STREQ(reply, "Routed 0 message(s): 0 delivered, 0 undeliverable, 0 held, 0 left queued");
  EXPECT_EQ(documents("mail.box", "NonDelivery Report").size(), 1u);
  EXPECT_FALSE(fs::exists(dataDir_.parent_path().parent_path() / "outside.nsf"));
  HTDatabaseClose(db, 0);
}

TEST_P(MailTest, GroupsExpandToTheirMembersOnce) {
  makeDirectory();
  addPerson({"Ann Lee"}, "mail\\ann.nsf");
  addPerson({"Bob Stone"}, "mail\\bob.nsf");
  addPerson({"Bob Stone (alias)"}, "mail\\BOB.nsf");  // the same mail file under another name
  addGroup("Team", {"Ann Lee", "Inner"});
  addGroup("Inner", {"Bob Stone", "Bob Stone (alias)", "Team"});  // nested, and a cycle
  HTDBHANDLE db = senderDb();
  ASSERT_EQ(send(db, "Team", "Ann Lee", "", "All hands", "Meeting"), HTSUCCESS);
  EXPECT_EQ(documents("mail/ann.nsf", "Memo").size(), 1u);
  EXPECT_EQ(documents("mail/bob.nsf", "Memo").size(), 1u);
  EXPECT_EQ(queued(), 0);
  HTDatabaseClose(db, 0);
}

TEST_P(MailTest, RoutingAgainAfterAnInterruptedRunDeliversNothingTwice) {
  makeDirectory();
  addPerson({"Ann Lee"}, "mail\\ann.nsf");
  addPerson({"Bob Stone"}, "mail\\bob.nsf");
  db::ServerRef local;
  ASSERT_EQ(db::resolveServer(server(), local), HTSUCCESS);

  // A message queued without routing, and Ann's copy written as if a run had stopped
  // between her mail file's commit and mail.box's.
  HTMAILREC rec{};
  rec.sendTo = "Ann Lee, Bob Stone";
  rec.subject = "Once";
  doc::Note memo = mail::composeMemo(rec, "Sam Sender");
  mail::stampPosted(memo, "Sam Sender");
  const UNID unid = mail::deposit(local, memo);
  doc::Note copy = mail::deliveredCopy(memo);
  copy.header.unid = unid;
  ASSERT_EQ(HTDatabaseCreate(server(), "mail/ann.nsf", "Ann", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
  addDocument([&](doc::Note& n) { n = copy; }, "mail/ann.nsf");
  EXPECT_EQ(queued(), 1);

  mail::RouteResult first = mail::route(local);
  EXPECT_EQ(first.messages, 1u);
  EXPECT_EQ(first.delivered, 1u);  // Bob only
  EXPECT_EQ(documents("mail/ann.nsf", "Memo").size(), 1u);
  EXPECT_EQ(documents("mail/bob.nsf", "Memo").size(), 1u);

  mail::RouteResult second = mail::route(local);
  EXPECT_EQ(second.messages, 0u);
  EXPECT_EQ(documents("mail/ann.nsf", "Memo").size(), 1u);
  EXPECT_EQ(documents("mail/bob.nsf", "Memo").size(), 1u);
}

TEST_P(MailTest, MessagesWithoutRecipientOrDirectoryAreRefused) {
  HTDBHANDLE db = senderDb();
  // No directory database yet.
  EXPECT_EQ(send(db, "Ann Lee", "", "", "S", "B"), HTFAIL_MAIL_NO_DIRECTORY);
  makeDirectory();
  EXPECT_EQ(send(db, "", nullptr, " , ", "S", "B"), HTFAIL_MAIL_NO_RECIPIENT);
  EXPECT_FALSE(store::exists(locate("mail.box")));

  // A recipient appended the way a document's Send does it: an empty entry names nobody.
  HTMAILREC rec{};
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTMailCreate(db, 0, &rec, 0, &doc), HTSUCCESS);
  ASSERT_EQ(HTItemAppendTextList(doc, "SendTo", "", 0, 0), HTSUCCESS);
  EXPECT_EQ(HTMailSend(doc, HTMAILSEND_SAVE), HTFAIL_MAIL_NO_RECIPIENT);
  EXPECT_TRUE(documents("mail/sam.nsf", "Memo").empty());  // a refused send saves nothing
  ASSERT_EQ(HTItemAppendTextList(doc, "SendTo", "Nobody", 0, 0), HTSUCCESS);
  EXPECT_EQ(HTMailSend(doc, 0), HTSUCCESS);
  EXPECT_EQ(HTDocumentClose(doc, 0x20000), HTSUCCESS);

  rec.priority = 7;
  EXPECT_EQ(HTMailCreate(db, 0, &rec, 0, &doc), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTMailCreate(db, 9, &rec, 0, &doc), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTMailCreate(db, 0, nullptr, 0, &doc), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTMailSend(0x12345, 0), HTFAIL_INVALID_HANDLE);
  HTDatabaseClose(db, 0);
}

TEST_F(MailTest, ConsoleAddsServersAndRefusesUnknownCommands) {
  char reply[256];
  ASSERT_EQ(HTServerExecute("", "add server \"Hub One\" hubs/one", sizeof reply, reply), HTSUCCESS);
  EXPECT_TRUE(fs::is_directory(dataDir_ / "hubs" / "one"));
  HTINT available = 0;
  ASSERT_EQ(HTServerGetProperty("Hub One", HTSERVER_IS_AVAILABLE, &available), HTSUCCESS);
  EXPECT_EQ(available, 1);
  // The new server's mail.box routes on its own.
  EXPECT_EQ(HTServerExecute("Hub One", "route mail", sizeof reply, reply), HTSUCCESS);
  EXPECT_EQ(HTServerExecute("Hub One", "add server X y", sizeof reply, reply), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTServerExecute("", "add server Local z", sizeof reply, reply), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTServerExecute("", "shutdown", sizeof reply, reply), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTServerExecute("", "route", 8, reply), HTSUCCESS);
  EXPECT_EQ(std::string(reply).size(), 7u);  // cut to the capacity
  EXPECT_EQ(HTServerExecute("Nowhere", "route", sizeof reply, reply), HTFAIL_SERVER_NOT_FOUND);
}

QUIRE_BOTH_BACKENDS(MailTest);

}  // namespace
}  // namespace quire::engine::test
