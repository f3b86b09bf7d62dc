#include "framework/QRMessages.h"

#include <cstdio>

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include "rtl/MessageBox.h"

namespace {

bool CanShowDialog() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app != nullptr && QThread::currentThread() == app->thread();
}

// Installed when the application is made, before any code of the program can show a message.
void InstallWhenApplicationStarts() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) QRInstallMessageBoxHandler();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWhenApplicationStarts)

int QRShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (!CanShowDialog()) {
    // As the runtime's default does: nobody may be there to close a dialog.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return rtl::kIdOk;
  }
  const QString title = caption.empty() ? QCoreApplication::applicationName() : QString::fromStdString(caption);
  QMessageBox box(QMessageBox::Critical, title, QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
  return rtl::kIdOk;
}

void QRInstallMessageBoxHandler() { rtl::SetMessageBoxHandler(QRShowMessageBox); }
