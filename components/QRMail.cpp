#include "components/QRMail.h"

#include <QtGui/QPainter>
#include <algorithm>
#include <array>
#include <string>

#include "binding/Quire01.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"
#include "objects/QRUtil.h"
#include "rtl/Errors.h"
#include "rtl/MessageBox.h"

namespace {

constexpr int kDesignSize = 26;
constexpr int kInitialSize = 24;

[[maybe_unused]] const bool kRegistered = [] {
  QRRegisterComponentClass<TQuireSendMail>();
  return true;
}();

// Cuts `text` to at most `capacity` - 1 bytes, the room a buffer of that size leaves beside
// its terminator. Native text is cut before a UTF-8 character that no longer fits, so the
// API never sees half a character; LMBCS has no such cheap test and is cut where it ends.
void CutToBuffer(std::string& text, size_t capacity, bool native) {
  if (text.size() < capacity) return;
  size_t end = capacity - 1;
  if (native) {
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  }
  text.resize(end);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Construction and destruction

TQuireSendMail::TQuireSendMail(QWidget* owner) : QWidget(owner), QRComponent(this) {
  setVisible(false);
  resize(kInitialSize, kInitialSize);
  // The API's own name for the local server; mail opened with `local` routes through it.
  // Whether the API takes it does not decide readiness: a send reports its own failures.
  FLastError = HTAPI.HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, "Local");
  FReady = true;
}

TQuireSendMail::~TQuireSendMail() {
  // An open handle left behind could never be closed by anyone: nobody else holds it.
  if (FDatabaseOpen) HTAPI.HTDatabaseClose(FMailDbHandle, 0);
}

// ---------------------------------------------------------------------------------------
// Properties and attachments

void TQuireSendMail::SetAttachments(const QStringList& list) { FAttachments = list; }

bool TQuireSendMail::GetTranslate() const { return TranslateOn; }

void TQuireSendMail::SetTranslate(bool Value) { TranslateOn = Value; }

int TQuireSendMail::IndexOfAttachment(const QString& fileName) const {
  for (int i = 0; i < FAttachments.size(); ++i) {
    if (FAttachments[i].compare(fileName, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

void TQuireSendMail::AttachFile(const QString& fileName) {
  if (IndexOfAttachment(fileName) >= 0) {
    HandleError(QStringLiteral("File: ") + fileName + QStringLiteral(" already attached"), 0);
    return;
  }
  FAttachments.append(fileName);
}

void TQuireSendMail::RemoveAttachment(const QString& fileName) {
  const int index = IndexOfAttachment(fileName);
  if (index >= 0) FAttachments.removeAt(index);
}

void TQuireSendMail::ClearAttachments() { FAttachments.clear(); }

// ---------------------------------------------------------------------------------------
// Sending

bool TQuireSendMail::Send(bool Switch2, bool local) {
  if (!FReady) return false;
  if (FSendTo.isEmpty()) {
    HandleError(QStringLiteral("No Recipient specified:"), static_cast<int>(FLastError));
    return false;
  }
  uint32_t flags = Switch2 ? kSendKeepCopy : 0;
  if (local) flags |= kSendLocal;
  if (!OpenDatabase(local)) return false;

  // The API gets LMBCS copies; the properties keep the caller's text, so a second Send does
  // not convert an already converted text again.
  const QByteArray body = FBody.toUtf8();
  const size_t capacity = std::min<size_t>(static_cast<size_t>(body.size()) + kTextBufferSlack, kTextBufferLimit);
  const bool native = !TranslateOn;
  auto convert = [&](const QString& value) {
    std::string converted;
    Translate_From_Native(value.toUtf8().constData(), converted);
    CutToBuffer(converted, capacity, native);
    return converted;
  };
  const std::string bodyText = convert(FBody);
  const std::string sendTo = convert(FSendTo);
  const std::string copyTo = convert(FCopyTo);
  const std::string blindCopyTo = convert(FBlindCopyTo);
  const std::string subject = convert(FSubject);
  auto address = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };

  FMailRecord = HTMAILREC{};
  FMailRecord.sendTo = address(sendTo);
  FMailRecord.copyTo = address(copyTo);
  FMailRecord.blindCopyTo = address(blindCopyTo);
  FMailRecord.subject = address(subject);
  FMailRecord.body = address(bodyText);
  FMailRecord.reserved = 0;
  FMailRecord.priority = static_cast<uint32_t>(FPriority);
  const bool sent = SendOpenDocument(flags);
  // The texts it pointed at end with this call.
  FMailRecord = HTMAILREC{};
  return sent;
}

// Creates, fills, sends and closes the mail document described by FMailRecord.
bool TQuireSendMail::SendOpenDocument(uint32_t flags) {
  FLastError = HTAPI.HTMailCreate(FMailDbHandle, 0, &FMailRecord, 0, &FMailDocHandle);
  if (FLastError != 0) {
    FMailDocHandle = 0;
    HandleError(QStringLiteral("Could not create Mail Document:"), static_cast<int>(FLastError));
    return false;
  }

  for (const QString& file : FAttachments) {
    std::string name = file.toUtf8().toStdString();
    CutToBuffer(name, kFileNameCapacity, true);
    const uint32_t result = HTAPI.HTAttachmentAttach(FMailDocHandle, name.c_str(), nullptr, 0, 0);
    FLastError = result;
    if (result != 0) HandleError(QStringLiteral("Failed to Attach File:"), static_cast<int>(result));
  }

  if (FSign) {
    HTUINT noteHandle = 0;
    FLastError = HTAPI.HTDocumentGetNotesHandle(FMailDocHandle, kNotesHandleRequest, &noteHandle);
    // A message that cannot be signed still goes out, unsigned.
    if (FLastError == 0) HTAPI.NSFNoteSign(noteHandle);
  }
  if (FEncrypt) FLastError = HTAPI.HTDocumentEncrypt(FMailDocHandle, 0, nullptr);

  const uint32_t sendResult = HTAPI.HTMailSend(FMailDocHandle, flags);
  FLastError = sendResult;
  if (sendResult != 0) HandleError(QStringLiteral("Error Sending MailNote:"), static_cast<int>(sendResult));

  const uint32_t closeResult = HTAPI.HTDocumentClose(FMailDocHandle, kCloseFlags);
  FLastError = closeResult;
  FMailDocHandle = 0;
  FAttachments.clear();
  if (closeResult != 0) {
    HandleError(QStringLiteral("Error Closing Document:"), static_cast<int>(closeResult));
    return false;
  }
  if (sendResult != 0) return false;
  if (OnSuccess) OnSuccess(this);
  emit succeeded();
  return true;
}

bool TQuireSendMail::OpenDatabase(bool local) {
  if (FDatabaseOpen && FOpenedLocal == local) return true;
  if (FDatabaseOpen) CloseDatabase();
  const QByteArray path = FMailFile.toUtf8();
  const QByteArray server = FMailServer.toUtf8();
  FLastError = HTAPI.HTDatabaseOpen(local ? nullptr : server.constData(), path.constData(), 0, &FMailDbHandle);
  if (FLastError != 0) {
    FDatabaseOpen = false;
    HandleError(QStringLiteral("Failed to Open Mail Database:"), static_cast<int>(FLastError));
    return false;
  }
  FOpenedLocal = local;
  FDatabaseOpen = true;
  return true;
}

void TQuireSendMail::CloseDatabase() {
  if (!FDatabaseOpen) return;
  const uint32_t result = HTAPI.HTDatabaseClose(FMailDbHandle, 0);
  FLastError = result;
  FDatabaseOpen = false;
  if (result != 0) HandleError(QStringLiteral("Error Closing Database:"), static_cast<int>(result));
}

// ---------------------------------------------------------------------------------------
// Errors and the password

void TQuireSendMail::HandleError(const QString& message, int code) {
  int severity = 0;
  QString text;
  GetErrorInfo(static_cast<uint32_t>(code), severity, text);
  if (OnError) {
    OnError(this, message, code, severity, text);
  } else {
    rtl::ShowMessageBox((message + QStringLiteral("\r\n") + text).toStdString(), "Error", rtl::kMbOk);
  }
  emit error(message, code, severity, text);
}

void TQuireSendMail::GetErrorInfo(uint32_t code, int& severity, QString& text) {
  text.clear();
  std::array<char, HT_ERROR_TEXT_CAPACITY> buffer{};
  HTINT apiSeverity = severity;
  if (HTAPI.HTErrorGetInfo(code, &apiSeverity, buffer.data()) != 0) {
    buffer.back() = '\0';
    text = QString::fromUtf8(buffer.data());
  }
  severity = apiSeverity;
}

void TQuireSendMail::GetNotesErrorString(QString& text) {
  int severity = 0;
  GetErrorInfo(FLastError, severity, text);
}

void TQuireSendMail::SetPassword(const QString& password) {
  try {
    QRSetPassword(password.toStdString());
  } catch (const rtl::ESharedMemoryError& e) {
    HandleError(QString::fromUtf8(e.what()), e.Code());
  }
}

// ---------------------------------------------------------------------------------------
// Design time

void TQuireSendMail::DesigningChanged() {
  // A component on a form being designed never sends.
  FReady = !IsDesigning();
  if (IsDesigning()) resize(kDesignSize, kDesignSize);
  setVisible(IsDesigning());
}

void TQuireSendMail::paintEvent(QPaintEvent*) {
  if (!IsDesigning()) return;
  if (width() != kDesignSize || height() != kDesignSize) resize(kDesignSize, kDesignSize);
  QPainter painter(this);
  painter.drawPixmap(1, 1, QRLoadBitmap(QStringLiteral("TQUIRESENDMAIL")));
}

namespace QRMail {

void Register() { RegisterComponents(QStringLiteral("Quire"), {&TQuireSendMail::staticMetaObject}); }

}  // namespace QRMail
