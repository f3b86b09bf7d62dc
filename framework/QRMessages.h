// QRMessages: the message-box hook of the runtime, shown as a Qt modal dialog.
//
// Components report an error without a handler through rtl::ShowMessageBox. When libquire-
// widgets is loaded into a program that makes a QApplication, the QMessageBox handler below
// is installed as soon as the application exists; a program can also install it itself.
// While no QApplication exists, or off the GUI thread, the handler falls back to the
// runtime's stderr default, so nothing ever blocks without a person to answer. Tests install
// a recorder over it (rtl::ScopedMessageBoxHandler) after making their QApplication.
//
// The dialog is modal, with the critical icon and one OK button; its title is the caption
// given, or the application's name when the caption is empty. It runs the event loop until
// it is closed, then answers rtl::kIdOk.
#pragma once

#include <string>

// Installs the QMessageBox handler as the runtime's message-box hook.
void QRInstallMessageBoxHandler();

// What the handler does, callable directly.
int QRShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
