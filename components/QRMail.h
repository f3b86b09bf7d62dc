// QRMail: the send-mail component (TQuireSendMail).
//
// An application drops one on a form, sets the recipients, subject, body, priority, the mail
// database (MailFile on MailServer) and the files to attach, and calls Send. Send opens the
// mail database (and keeps it open for later sends with the same `local` value), creates a
// mail document, attaches the files, signs and encrypts it on request, sends it through the
// mail router and closes it. It works on the raw API table (HTAPI), not the object model, and
// expects Initialize() to have run. At design time the component is a 26 x 26 square showing
// its bitmap; at run time it is invisible and Send does nothing while designing.
//
// Failures never throw. Each is reported through HandleError: OnError(Sender, errstr, hterr,
// severity, htmsg) when set, otherwise a modal error box "errstr\r\nhtmsg". A failed
// attachment, signature or encryption does not stop the send; Send answers whether the
// message was handed to the router, and LastError keeps the last API result.
//
// Texts are UTF-8 QStrings. With translation on (the process-wide switch behind Translate)
// they are converted to LMBCS for the API on every Send; the properties keep what the caller
// set, so sending twice sends the same message twice.
//
// Ownership: the component owns its mail database handle and closes it when destroyed; the
// mail document exists only while Send runs. Attachments are file names; the files must
// exist while Send runs and are not changed.
// Threads: the GUI thread only.
#pragma once

#include <QtCore/QStringList>
#include <QtWidgets/QWidget>
#include <cstdint>
#include <functional>

#include "framework/QRComponent.h"
#include "hitest/hitest.h"

namespace QRMail {
Q_NAMESPACE
// The ordinal is the API's HTMAILPRIORITY.
enum TQuireMailPriority : int32_t { mpNormal = 0, mpLow = 1, mpHigh = 2 };
Q_ENUM_NS(TQuireMailPriority)

// Puts TQuireSendMail on the palette page "Quire".
void Register();
}  // namespace QRMail
using QRMail::TQuireMailPriority;
using QRMail::mpNormal;
using QRMail::mpLow;
using QRMail::mpHigh;

// The error event; the parameter names and order are the published interface.
using TQuireSendMailErr = std::function<void(QObject* Sender, const QString& errstr, int hterr, int severity,
                                             const QString& htmsg)>;

class TQuireSendMail : public QWidget, public QRComponent {
  Q_OBJECT
  Q_PROPERTY(QString SendTo READ SendTo WRITE SetSendTo)
  Q_PROPERTY(QString CopyTo READ CopyTo WRITE SetCopyTo)
  Q_PROPERTY(QString BlindCopyTo READ BlindCopyTo WRITE SetBlindCopyTo)
  Q_PROPERTY(QString Subject READ Subject WRITE SetSubject)
  Q_PROPERTY(QString Body READ Body WRITE SetBody)
  Q_PROPERTY(QRMail::TQuireMailPriority Priority READ Priority WRITE SetPriority)
  Q_PROPERTY(QString MailFile READ MailFile WRITE SetMailFile)
  Q_PROPERTY(QString MailServer READ MailServer WRITE SetMailServer)
  Q_PROPERTY(QStringList Attachments READ Attachments WRITE SetAttachments)
  Q_PROPERTY(bool Translate READ GetTranslate WRITE SetTranslate)
  Q_PROPERTY(bool Sign READ Sign WRITE SetSign)
  Q_PROPERTY(bool Encrypt READ Encrypt WRITE SetEncrypt)

 public:
  // Capacity of the buffer a file name is copied into for the API (terminator included).
  static constexpr int kFileNameCapacity = 256;
  // Room the text buffer of Send has beyond the body's length, and its largest size.
  static constexpr int kTextBufferSlack = 500;
  static constexpr int kTextBufferLimit = 65535;
  // Send flags, close flag and note-handle request, passed as the API expects them.
  static constexpr uint32_t kSendKeepCopy = 0x2;
  static constexpr uint32_t kSendLocal = 0x8;
  static constexpr uint32_t kCloseFlags = 0x20000;
  static constexpr uint32_t kNotesHandleRequest = 0x40000000;

  // Hidden and 24 x 24. Names the API's local server "Local" and becomes ready to send.
  explicit TQuireSendMail(QWidget* owner = nullptr);
  // Closes the mail database when it is open; nothing is reported.
  ~TQuireSendMail() override;
  TQuireSendMail(const TQuireSendMail&) = delete;
  TQuireSendMail& operator=(const TQuireSendMail&) = delete;

  // ---- Published properties.
  QString SendTo() const { return FSendTo; }
  void SetSendTo(const QString& Value) { FSendTo = Value; }
  QString CopyTo() const { return FCopyTo; }
  void SetCopyTo(const QString& Value) { FCopyTo = Value; }
  QString BlindCopyTo() const { return FBlindCopyTo; }
  void SetBlindCopyTo(const QString& Value) { FBlindCopyTo = Value; }
  QString Subject() const { return FSubject; }
  void SetSubject(const QString& Value) { FSubject = Value; }
  QString Body() const { return FBody; }
  void SetBody(const QString& Value) { FBody = Value; }
  TQuireMailPriority Priority() const { return FPriority; }
  void SetPriority(TQuireMailPriority Value) { FPriority = Value; }
  QString MailFile() const { return FMailFile; }
  void SetMailFile(const QString& Value) { FMailFile = Value; }
  QString MailServer() const { return FMailServer; }
  void SetMailServer(const QString& Value) { FMailServer = Value; }
  QStringList Attachments() const { return FAttachments; }
  // Replaces the list by a copy of `list`, duplicates and all.
  void SetAttachments(const QStringList& list);
  // The process-wide translation switch: setting it here changes every conversion of the
  // library, and a form that stores it sets it when it loads.
  bool GetTranslate() const;
  void SetTranslate(bool Value);
  bool Sign() const { return FSign; }
  void SetSign(bool Value) { FSign = Value; }
  bool Encrypt() const { return FEncrypt; }
  void SetEncrypt(bool Value) { FEncrypt = Value; }

  // ---- Published events.
  TQuireSendMailErr OnError;
  TNotifyEvent OnSuccess;

  // ---- Run-time state, read-only.
  bool Ready() const { return FReady; }
  bool DatabaseOpen() const { return FDatabaseOpen; }
  bool OpenedLocal() const { return FOpenedLocal; }
  HTDBHANDLE MailDbHandle() const { return FMailDbHandle; }
  uint32_t LastError() const { return FLastError; }

  // ---- Attachments. Names compare without regard to letter case.
  // A name already listed is not added again; it is reported as "File: <name> already
  // attached" with code 0.
  void AttachFile(const QString& fileName);
  // Removes the first entry of that name; nothing when there is none.
  void RemoveAttachment(const QString& fileName);
  void ClearAttachments();

  // ---- Sending. Switch2 keeps a copy of the message in the mail database; `local` opens the
  // mail database and routes through the local server whatever MailServer says. True when
  // the message was sent; false after a reported failure, or silently while designing.
  bool Send(bool Switch2, bool local);
  // Opens MailFile (on MailServer unless `local`), or reuses the database already open with
  // the same `local` value. A failure is reported and answers false.
  bool OpenDatabase(bool local);
  // Closes the mail database when it is open; a failure is reported.
  void CloseDatabase();

  // ---- Errors.
  // Reports `message` with `code` and the API's severity and text for it; LastError stays.
  void HandleError(const QString& message, int code);
  // The API's severity and text for `code`; text empty when the API has none.
  void GetErrorInfo(uint32_t code, int& severity, QString& text);
  void GetNotesErrorString(QString& text);

  // Hands the password to the password reader through the shared memory "QRPasswordMem"
  // (cut to 254 characters). No API call; LastError unchanged. A block that cannot be had is
  // reported through HandleError.
  void SetPassword(const QString& password);

 signals:
  // Qt signals beside the callables, for Designer's signal/slot editor; raised after them.
  void error(const QString& errstr, int hterr, int severity, const QString& htmsg);
  void succeeded();

 protected:
  void DesigningChanged() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int IndexOfAttachment(const QString& fileName) const;
  bool SendOpenDocument(uint32_t flags);

  QString FSendTo;
  QString FCopyTo;
  QString FBlindCopyTo;
  QString FSubject;
  QString FBody;
  TQuireMailPriority FPriority = mpNormal;
  QString FMailFile;
  QString FMailServer;
  QStringList FAttachments;
  bool FSign = false;
  bool FEncrypt = false;

  bool FReady = false;
  HTDBHANDLE FMailDbHandle = 0;
  bool FDatabaseOpen = false;
  bool FOpenedLocal = false;
  HTDOCHANDLE FMailDocHandle = 0;
  HTMAILREC FMailRecord{};
  uint32_t FLastError = 0;
};
