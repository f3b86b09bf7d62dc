// The send-mail component against the real engine and its mail router: mail to people and a
// group arriving in their mail files with the attachment's bytes, the mail database kept open
// by `local`, every failing step's exact message, translation, signing and encryption, and
// the design-time appearance. Steps the engine cannot be made to fail are failed by swapping
// one slot of the API table for the length of one test.
#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtCore/QMetaEnum>
#include <QtGui/QImage>
#include <cstring>
#include <fstream>
#include <memory>

#include "components/QRMail.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"
#include "objects/QRAttch.h"
#include "objects/QRDoccol.h"
#include "objects/QRItem.h"
#include "objects/QRUtil.h"
#include "tests/components/DataTestSupport.h"

namespace {

constexpr HTSTATUS kInjected = HTFAIL_INVALID_ARGUMENT;

// Records what reached the API, passing every call on to the engine.
struct ApiLog {
  int opens = 0;
  int closes = 0;
  bool serverWasNull = false;
  std::string server;
  std::vector<HTUINT> sendFlags;
};
ApiLog gLog;
THTAPITable gReal;

// Swaps slots of HTAPI for recording or failing ones while it lives.
class ApiDouble {
 public:
  ApiDouble() : saved_(HTAPI) {
    gReal = HTAPI;
    gLog = ApiLog{};
  }
  ~ApiDouble() { HTAPI = saved_; }
  ApiDouble(const ApiDouble&) = delete;
  ApiDouble& operator=(const ApiDouble&) = delete;

  void Record() {
    HTAPI.HTDatabaseOpen = [](const char* server, const char* path, HTUINT flags, HTDBHANDLE* db) {
      ++gLog.opens;
      gLog.serverWasNull = server == nullptr;
      gLog.server = server ? server : "";
      return gReal.HTDatabaseOpen(server, path, flags, db);
    };
    HTAPI.HTDatabaseClose = [](HTDBHANDLE db, HTUINT flags) {
      ++gLog.closes;
      return gReal.HTDatabaseClose(db, flags);
    };
    HTAPI.HTMailSend = [](HTDOCHANDLE doc, HTUINT flags) {
      gLog.sendFlags.push_back(flags);
      return gReal.HTMailSend(doc, flags);
    };
  }

 private:
  THTAPITable saved_;
};

// Every report of a component, in order.
struct Reports {
  explicit Reports(TQuireSendMail& mail) {
    mail.OnError = [this](QObject* sender, const QString& errstr, int hterr, int severity, const QString& htmsg) {
      senders.push_back(sender);
      errors.push_back(errstr);
      codes.push_back(hterr);
      severities.push_back(severity);
      texts.push_back(htmsg);
    };
    mail.OnSuccess = [this](QObject*) { ++successes; };
  }
  std::vector<QObject*> senders;
  std::vector<QString> errors;
  std::vector<int> codes;
  std::vector<int> severities;
  std::vector<QString> texts;
  int successes = 0;
};

std::string ApiText(HTSTATUS code) { return GetNotesErrorText(code); }

void Check(HTSTATUS status, const char* what) {
  if (status != 0) qFatal("%s: %s", what, ApiText(status).c_str());
}

void AddEntry(TQuireDatabase& directory, const std::vector<std::pair<std::string, std::string>>& items) {
  auto doc = directory.CreateDocument("");
  for (const auto& [name, value] : items) doc->AppendTextItem(name, value);
  doc->Save();
  if (doc->LastError != 0) qFatal("cannot save a directory entry: %s", doc->GetNotesErrorString().c_str());
}

// A message delivered into a mail file: its subject and the bytes of its attachments.
struct Delivered {
  std::string subject;
  std::string priority;
  std::vector<std::string> attachments;  // names
  std::vector<std::string> contents;     // bytes, in the same order
  bool signature = false;
  bool sealed = false;
};

std::vector<Delivered> MailIn(const std::string& path) {
  TQuireSession session;
  std::vector<Delivered> out;
  auto database = session.GetDatabase("", path);
  if (!database) return out;
  auto found = database->Search("Form = \"Memo\"");
  if (!found) return out;
  const int count = found->GetCount();
  for (int n = 1; n <= count; ++n) {
    std::unique_ptr<TQuireDocument> doc = found->GetNthDocument(n);
    if (!doc) break;
    Delivered d;
    if (TQuireItem* item = doc->GetItemByName("Subject")) d.subject = item->GetText();
    if (TQuireItem* item = doc->GetItemByName("DeliveryPriority")) d.priority = item->GetText();
    d.signature = doc->GetItemByName("$Signature") != nullptr;
    d.sealed = doc->GetItemByName("$Seal") != nullptr;
    for (int i = 0; i < doc->Attachments.Count(); ++i) {
      d.attachments.push_back(doc->Attachments.Strings(i));
      const std::string target = quireqt::DataDir() + "/extracted.bin";
      std::remove(target.c_str());
      doc->GetAttach(i)->ExtractFile(target);
      std::ifstream in(target, std::ios::binary);
      d.contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    out.push_back(std::move(d));
  }
  return out;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = quireqt::DataDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

class SendMailTest : public QObject {
  Q_OBJECT

  // The sender's mail file, local.
  const QString senderFile_ = QStringLiteral("mail\\manager.nsf");
  std::string attachment_;
  std::string attachmentBytes_ = std::string("PK\0\x01\xff\xfe binary \r\n tail", 21);

  void Address(TQuireSendMail& mail, const QString& subject) {
    mail.SetMailFile(senderFile_);
    mail.SetSendTo(QStringLiteral("Ann Lee"));
    mail.SetSubject(subject);
    mail.SetBody(QStringLiteral("Body of ") + subject);
  }

 private slots:
  void initTestCase() {
    Check(HTAPI.HTDatabaseCreate("", "names.nsf", "Directory", "", HTDBCLASS_DATABASE), "names.nsf");
    Check(HTAPI.HTDatabaseCreate("", "mail\\manager.nsf", "Test Manager", "", HTDBCLASS_DATABASE), "sender");
    TQuireSession session;
    auto directory = session.GetDatabase("", "names.nsf");
    QVERIFY(directory != nullptr);
    AddEntry(*directory, {{"Form", "Person"}, {"FullName", quireqt::kTestUser}, {"MailFile", "mail\\manager.nsf"}});
    AddEntry(*directory, {{"Form", "Person"}, {"FullName", "Ann Lee"}, {"MailFile", "mail\\ann.nsf"}});
    AddEntry(*directory, {{"Form", "Person"}, {"FullName", "Bob Stone"}, {"MailFile", "mail\\bob.nsf"}});
    AddEntry(*directory, {{"Form", "Person"}, {"FullName", "Cid Moss"}, {"MailFile", "mail\\cid.nsf"}});
    AddEntry(*directory, {{"Form", "Person"}, {"FullName", "Dee Fox"}, {"MailFile", "mail\\dee.nsf"}});
    AddEntry(*directory, {{"Form", "Group"}, {"ListName", "Team"}, {"Members", "Cid Moss, Dee Fox"}});
    attachment_ = WriteFile("report.bin", attachmentBytes_);
    // A server with a mail file but no directory: its router cannot send.
    char reply[256] = {};
    Check(HTAPI.HTServerExecute("", "add server Remote remote", sizeof reply, reply), "add server");
    Check(HTAPI.HTDatabaseCreate("Remote", "mail\\manager.nsf", "Remote", "", HTDBCLASS_DATABASE), "remote");
  }

  void createdHiddenReadyAndPublishedAsSpecified() {
    TranslateOn = false;
    TQuireSendMail mail;
    QVERIFY(!mail.isVisible());
    QCOMPARE(mail.size(), QSize(24, 24));
    QCOMPARE(mail.Priority(), mpNormal);
    QVERIFY(mail.Ready());
    QVERIFY(!mail.DatabaseOpen() && !mail.OpenedLocal());
    QVERIFY(!mail.Sign() && !mail.Encrypt());
    QVERIFY(mail.Attachments().isEmpty());
    QCOMPARE(mail.LastError(), 0u);  // the API took "Local"

    const QMetaObject& meta = TQuireSendMail::staticMetaObject;
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) names << meta.property(i).name();
    QCOMPARE(names, QStringList({"SendTo", "CopyTo", "BlindCopyTo", "Subject", "Body", "Priority", "MailFile",
                                 "MailServer", "Attachments", "Translate", "Sign", "Encrypt"}));
    const QMetaEnum priority = meta.property(meta.indexOfProperty("Priority")).enumerator();
    QCOMPARE(priority.keyToValue("mpNormal"), 0);
    QCOMPARE(priority.keyToValue("mpLow"), 1);
    QCOMPARE(priority.keyToValue("mpHigh"), 2);

    // Translate is the process-wide switch, not a field.
    mail.SetTranslate(true);
    QVERIFY(TranslateOn);
    TQuireSendMail other;
    QVERIFY(other.GetTranslate());
    other.SetTranslate(false);
    QVERIFY(!mail.GetTranslate());
  }

  void attachmentListIgnoresLetterCaseAndReportsDuplicates() {
    TQuireSendMail mail;
    Reports reports(mail);
    mail.AttachFile("/tmp/A.txt");
    mail.AttachFile("/tmp/b.txt");
    mail.AttachFile("/TMP/a.TXT");
    QCOMPARE(mail.Attachments(), QStringList({"/tmp/A.txt", "/tmp/b.txt"}));
    QCOMPARE(reports.errors, std::vector<QString>({"File: /TMP/a.TXT already attached"}));
    QCOMPARE(reports.codes, std::vector<int>({0}));
    QCOMPARE(reports.senders, std::vector<QObject*>({&mail}));

    mail.RemoveAttachment("/TMP/B.TXT");
    mail.RemoveAttachment("/tmp/none.txt");
    QCOMPARE(mail.Attachments(), QStringList({"/tmp/A.txt"}));
    mail.SetAttachments({"x", "x", "y"});
    QCOMPARE(mail.Attachments(), QStringList({"x", "x", "y"}));
    mail.RemoveAttachment("X");
    QCOMPARE(mail.Attachments(), QStringList({"x", "y"}));
    mail.ClearAttachments();
    QVERIFY(mail.Attachments().isEmpty());
    QCOMPARE(reports.errors.size(), size_t(1));
  }

  void mailReachesTwoPeopleAndAGroupWithTheAttachment() {
    TQuireSendMail mail;
    Reports reports(mail);
    mail.SetMailFile(senderFile_);
    mail.SetSendTo(QStringLiteral("Ann Lee, Bob Stone"));
    mail.SetCopyTo(QStringLiteral("Team"));
    mail.SetSubject(QStringLiteral("Quarterly figures"));
    mail.SetBody(QStringLiteral("The figures are attached."));
    mail.SetPriority(mpHigh);
    mail.AttachFile(QString::fromStdString(attachment_));
    QVERIFY(mail.Send(false, true));
    QCOMPARE(reports.successes, 1);
    QVERIFY2(reports.errors.empty(), qPrintable(reports.errors.empty() ? "" : reports.errors[0] + reports.texts[0]));
    QVERIFY(mail.Attachments().isEmpty());
    QVERIFY(mail.DatabaseOpen() && mail.OpenedLocal());

    for (const char* file : {"mail\\ann.nsf", "mail\\bob.nsf", "mail\\cid.nsf", "mail\\dee.nsf"}) {
      const std::vector<Delivered> inbox = MailIn(file);
      QVERIFY2(inbox.size() == 1, file);
      QCOMPARE(inbox[0].subject, std::string("Quarterly figures"));
      QCOMPARE(inbox[0].priority, std::string("H"));
      QCOMPARE(inbox[0].attachments, std::vector<std::string>({"report.bin"}));
      QCOMPARE(inbox[0].contents, std::vector<std::string>({attachmentBytes_}));
      QVERIFY(!inbox[0].signature && !inbox[0].sealed);
    }
    // Without flag 2 the sender keeps no copy.
    QVERIFY(MailIn("mail\\manager.nsf").empty());
    mail.CloseDatabase();
    QVERIFY(!mail.DatabaseOpen());
  }

  void flagsServerAndReuseOfTheMailDatabase() {
    ApiDouble api;
    api.Record();
    TQuireSendMail mail;
    Reports reports(mail);
    Address(mail, QStringLiteral("Flags"));
    mail.SetMailServer(QStringLiteral("Remote"));

    // Local: the server is null whatever MailServer says; 2 + 8.
    QVERIFY(mail.Send(true, true));
    QVERIFY(gLog.serverWasNull);
    QVERIFY(mail.Send(false, true));
    QCOMPARE(gLog.opens, 1);
    QCOMPARE(gLog.closes, 0);
    QCOMPARE(gLog.sendFlags, std::vector<HTUINT>({10, 8}));

    // The other `local` value closes and reopens, now through the named (empty) server.
    mail.SetMailServer(QString());
    QVERIFY(mail.Send(false, false));
    QCOMPARE(gLog.opens, 2);
    QCOMPARE(gLog.closes, 1);
    QVERIFY(!gLog.serverWasNull);
    QCOMPARE(gLog.server, std::string());
    QVERIFY(!mail.OpenedLocal());
    QCOMPARE(gLog.sendFlags.back(), HTUINT(0));
    QCOMPARE(reports.successes, 3);
    QVERIFY(reports.errors.empty());

    // Flag 2 kept one copy in the sender's mail file.
    std::vector<Delivered> kept = MailIn("mail\\manager.nsf");
    QCOMPARE(kept.size(), size_t(1));
    QCOMPARE(kept[0].subject, std::string("Flags"));

    // Destroying the component closes what it opened.
    const int closes = gLog.closes;
    { TQuireSendMail other; Address(other, "x"); QVERIFY(other.OpenDatabase(true)); }
    QCOMPARE(gLog.closes, closes + 1);
  }

  void eachFailingStepReportsItsMessage() {
    // No recipient: the current LastError as code, nothing opened.
    {
      TQuireSendMail mail;
      Reports reports(mail);
      mail.SetMailFile(senderFile_);
      QVERIFY(!mail.Send(false, true));
      QCOMPARE(reports.errors, std::vector<QString>({"No Recipient specified:"}));
      QCOMPARE(reports.codes, std::vector<int>({static_cast<int>(mail.LastError())}));
      QVERIFY(!mail.DatabaseOpen());
    }
    // A mail file that does not exist.
    {
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "missing");
      mail.SetMailFile(QStringLiteral("mail\\nobody.nsf"));
      QVERIFY(!mail.Send(false, true));
      QCOMPARE(reports.errors, std::vector<QString>({"Failed to Open Mail Database:"}));
      QVERIFY(reports.codes[0] != 0);
      QCOMPARE(static_cast<uint32_t>(reports.codes[0]), mail.LastError());
      QCOMPARE(reports.texts[0].toStdString(), ApiText(mail.LastError()));
      QVERIFY(!reports.texts[0].isEmpty());
      QVERIFY(!mail.DatabaseOpen());
    }
    // A file that cannot be attached does not stop the send.
    {
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "one of two attached");
      mail.AttachFile(QString::fromStdString(quireqt::DataDir() + "/no-such-file.txt"));
      mail.AttachFile(QString::fromStdString(attachment_));
      QVERIFY(mail.Send(false, true));
      QCOMPARE(reports.errors, std::vector<QString>({"Failed to Attach File:"}));
      QVERIFY(reports.codes[0] != 0);
      QCOMPARE(reports.successes, 1);
      const std::vector<Delivered> inbox = MailIn("mail\\ann.nsf");
      QCOMPARE(inbox.back().subject, std::string("one of two attached"));
      QCOMPARE(inbox.back().attachments, std::vector<std::string>({"report.bin"}));
    }
    // A server without a directory cannot send: reported, the document still closed and the
    // attachments cleared, and no success.
    {
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "never sent");
      mail.SetMailServer(QStringLiteral("Remote"));
      mail.AttachFile(QString::fromStdString(attachment_));
      QVERIFY(!mail.Send(false, false));
      QCOMPARE(reports.errors, std::vector<QString>({"Error Sending MailNote:"}));
      QCOMPARE(static_cast<uint32_t>(reports.codes[0]), HTFAIL_MAIL_NO_DIRECTORY);
      QCOMPARE(mail.LastError(), 0u);  // the close that followed succeeded
      QVERIFY(mail.Attachments().isEmpty());
      QCOMPARE(reports.successes, 0);
    }
  }

  void stepsTheEngineCannotFailReportTheirMessages() {
    // Creating the document fails: the attachments stay, the database stays open.
    {
      ApiDouble api;
      HTAPI.HTMailCreate = [](HTDBHANDLE, HTINT, const HTMAILREC*, HTUINT, HTDOCHANDLE* doc) {
        *doc = 0;
        return kInjected;
      };
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "not created");
      mail.AttachFile(QString::fromStdString(attachment_));
      QVERIFY(!mail.Send(false, true));
      QCOMPARE(reports.errors, std::vector<QString>({"Could not create Mail Document:"}));
      QCOMPARE(reports.codes, std::vector<int>({static_cast<int>(kInjected)}));
      QCOMPARE(reports.texts[0].toStdString(), ApiText(kInjected));
      QCOMPARE(mail.Attachments().size(), 1);
      QVERIFY(mail.DatabaseOpen());
      mail.CloseDatabase();
    }
    // Closing the document fails after a good send.
    {
      ApiDouble api;
      HTAPI.HTDocumentClose = [](HTDOCHANDLE doc, HTUINT flags) {
        gReal.HTDocumentClose(doc, flags);
        return kInjected;
      };
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "close fails");
      mail.AttachFile(QString::fromStdString(attachment_));
      QVERIFY(!mail.Send(false, true));
      QCOMPARE(reports.errors, std::vector<QString>({"Error Closing Document:"}));
      QVERIFY(mail.Attachments().isEmpty());
      QCOMPARE(reports.successes, 0);
      mail.CloseDatabase();
    }
    // Closing the database fails.
    {
      ApiDouble api;
      HTAPI.HTDatabaseClose = [](HTDBHANDLE db, HTUINT flags) {
        gReal.HTDatabaseClose(db, flags);
        return kInjected;
      };
      TQuireSendMail mail;
      Reports reports(mail);
      Address(mail, "x");
      QVERIFY(mail.OpenDatabase(true));
      QVERIFY(mail.OpenDatabase(true));  // reused, no second report or open
      mail.CloseDatabase();
      mail.CloseDatabase();  // already closed: nothing
      QCOMPARE(reports.errors, std::vector<QString>({"Error Closing Database:"}));
      QCOMPARE(mail.LastError(), kInjected);
      QVERIFY(!mail.DatabaseOpen());
    }
  }

  void withoutAHandlerTheMessageAndTheApiTextAreShown() {
    quireqt::MessageRecorder recorder;
    TQuireSendMail mail;
    Address(mail, "x");
    mail.SetMailFile(QStringLiteral("mail\\nobody.nsf"));
    QVERIFY(!mail.Send(false, true));
    QCOMPARE(recorder.messages.size(), size_t(1));
    QCOMPARE(recorder.messages[0].text, "Failed to Open Mail Database:\r\n" + ApiText(mail.LastError()));
    QString text;
    mail.GetNotesErrorString(text);
    QCOMPARE(text.toStdString(), ApiText(mail.LastError()));
  }

  void translationConvertsCopiesSoASecondSendIsTheSame() {
    const QString subject = QStringLiteral("Grüße aus Köln – № 5");
    TranslateOn = true;
    TQuireSendMail mail;
    Reports reports(mail);
    mail.SetMailFile(senderFile_);
    mail.SetSendTo(QStringLiteral("Bob Stone"));
    mail.SetSubject(subject);
    mail.SetBody(QStringLiteral("Straße"));
    QVERIFY(mail.Send(false, true));
    QVERIFY(mail.Send(false, true));
    QCOMPARE(mail.Subject(), subject);
    QCOMPARE(reports.successes, 2);

    // Read back through the translating object model: both arrive as written.
    std::vector<Delivered> inbox = MailIn("mail\\bob.nsf");
    QVERIFY(inbox.size() >= 2);
    QCOMPARE(QString::fromStdString(inbox[inbox.size() - 2].subject), subject);
    QCOMPARE(QString::fromStdString(inbox.back().subject), subject);
    // The engine got LMBCS, not the UTF-8 text: read untranslated, the bytes differ.
    TranslateOn = false;
    inbox = MailIn("mail\\bob.nsf");
    QVERIFY(QString::fromStdString(inbox.back().subject) != subject);
    mail.CloseDatabase();
  }

  void signingAndEncryptionReachTheDeliveredMessage() {
    TQuireSendMail mail;
    Reports reports(mail);
    mail.SetMailFile(senderFile_);
    mail.SetSendTo(QStringLiteral("Dee Fox"));
    mail.SetSubject(QStringLiteral("signed"));
    mail.SetSign(true);
    QVERIFY(mail.Send(false, true));
    mail.SetSubject(QStringLiteral("sealed"));
    mail.SetSign(false);
    mail.SetEncrypt(true);
    QVERIFY(mail.Send(false, true));
    QVERIFY(reports.errors.empty());
    const std::vector<Delivered> inbox = MailIn("mail\\dee.nsf");
    bool signedSeen = false;
    bool sealedSeen = false;
    for (const Delivered& d : inbox) {
      if (d.subject == "signed") signedSeen = d.signature && !d.sealed;
      if (d.subject == "sealed") sealedSeen = d.sealed && !d.signature;
    }
    QVERIFY(signedSeen);
    QVERIFY(sealedSeen);
    mail.CloseDatabase();
  }

  void aLongBodyIsCutToTheLargestBuffer() {
    TQuireSendMail mail;
    Reports reports(mail);
    Address(mail, "long");
    mail.SetBody(QString(70000, QChar('x')));
    const QString longSubject = QString(600, QChar('s'));
    mail.SetSubject(longSubject);
    QVERIFY(mail.Send(false, true));
    const std::vector<Delivered> inbox = MailIn("mail\\ann.nsf");
    // The subject fitted the body-sized buffer whole.
    QCOMPARE(QString::fromStdString(inbox.back().subject), longSubject);
    mail.CloseDatabase();
  }

  void designTimeShowsTheBitmapAndNeverSends() {
    TQuireSendMail mail;
    Reports reports(mail);
    mail.SetDesigning(true);
    QVERIFY(mail.isVisible());
    QVERIFY(!mail.Ready());
    Address(mail, "designing");
    QVERIFY(!mail.Send(false, true));
    QVERIFY(reports.errors.empty());
    QVERIFY(!mail.DatabaseOpen());

    const QImage shown = mail.grab().toImage();
    QCOMPARE(mail.size(), QSize(26, 26));
    const QImage bitmap = QRLoadBitmap(QStringLiteral("TQUIRESENDMAIL")).toImage();
    QCOMPARE(bitmap.size(), QSize(24, 24));
    int compared = 0;
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 24; ++x) {
        if (qAlpha(bitmap.pixel(x, y)) != 255) continue;
        QCOMPARE(shown.pixel(x + 1, y + 1) & 0xFFFFFF, bitmap.pixel(x, y) & 0xFFFFFF);
        ++compared;
      }
    }
    QVERIFY(compared > 100);
  }

  void aLoadedFormSetsTheTranslationSwitch() {
    TranslateOn = false;
    const QByteArray ui = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <widget class="TQuireSendMail" name="Mail">
   <property name="SendTo"><string>Ann Lee</string></property>
   <property name="Priority"><enum>QRMail::mpLow</enum></property>
   <property name="Translate"><bool>true</bool></property>
   <property name="Attachments"><stringlist><string>a.txt</string><string>b.txt</string></stringlist></property>
  </widget>
 </widget>
</ui>)";
    QBuffer buffer;
    buffer.setData(ui);
    buffer.open(QIODevice::ReadOnly);
    QRFormLoader loader;
    std::unique_ptr<QWidget> form = loader.Load(buffer);
    QVERIFY2(form != nullptr, qPrintable(loader.ErrorString()));
    auto* mail = form->findChild<TQuireSendMail*>("Mail");
    QVERIFY(mail != nullptr);
    QCOMPARE(mail->SendTo(), QString("Ann Lee"));
    QCOMPARE(mail->Priority(), mpLow);
    QCOMPARE(mail->Attachments(), QStringList({"a.txt", "b.txt"}));
    QVERIFY(TranslateOn);
    TranslateOn = false;
  }

  void thePasswordReachesTheSharedBlock() {
    TSharedMem reader("QRPasswordMem", 255);
    TQuireSendMail mail;
    Reports reports(mail);
    mail.SetPassword(QStringLiteral("secret"));
    QCOMPARE(std::string(static_cast<const char*>(reader.Buffer)), std::string("secret"));
    QVERIFY(reports.errors.empty());
    QCOMPARE(mail.LastError(), 0u);
  }

  void registersOnThePageQuire() {
    ClearPalette();
    QRMail::Register();
    QCOMPARE(PaletteEntries().size(), size_t(1));
    QCOMPARE(PaletteEntries()[0].page, QString("Quire"));
    QCOMPARE(PaletteEntries()[0].metaObject, &TQuireSendMail::staticMetaObject);
    ClearPalette();
  }
};

QUIRE_QTEST_MAIN(SendMailTest)
#include "QRMail_test.moc"
