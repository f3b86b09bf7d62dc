// QRFormLoader: reads a Qt Designer `.ui` form with Quire components on it.
//
// Loading a form goes in four steps:
//  1. Every widget of the form is made. A class registered with QRRegisterComponentClass is
//     made by its factory and put in the loading state at once, so property setters know
//     that they are being read from a form (a stored Active true is not applied); any other
//     class is made by Qt's own loader.
//  2. The stored properties are set, in the order the form holds them.
//  3. Component references are resolved: a property of a registered class whose type is a
//     pointer to a QObject-derived class (MasterCtrl, NotesDataCtrl ...) is stored in the
//     form as the name of the component it refers to (`<string>Name</string>` or
//     `<cstring>`). Once every widget exists the loader finds the object of that name on
//     the form, checks that it is of the property's class, and writes the property. An
//     empty name leaves the reference unset. Nothing else needs registering for a new
//     reference property.
//  4. FinishLoading (and so Loaded) is called on each component, in the order they were made.
//
// Failures: a file that cannot be read, XML that is not well formed, a form Qt's loader
// refuses, a reference naming no object, or one naming an object of the wrong class make
// Load return nullptr; ErrorString() then says what and where, and every widget made so far
// is destroyed. Nothing throws.
//
// Ownership: the form returned belongs to the caller; the components on it are its children.
// Threads: the GUI thread only, like every widget.
#pragma once

#include <QtCore/QString>
#include <QtWidgets/QWidget>
#include <functional>
#include <memory>

class QIODevice;
struct QMetaObject;

// Makes a component of one class as a child of `parent` (which may be null).
using QRComponentFactory = std::function<QWidget*(QWidget* parent)>;

// Registers a component class under its class name for the form loader; a later
// registration of the same name replaces the earlier one.
void QRRegisterComponentClass(const QMetaObject& metaObject, QRComponentFactory factory);

template <class T>
void QRRegisterComponentClass() {
  QRRegisterComponentClass(T::staticMetaObject, [](QWidget* parent) -> QWidget* { return new T(parent); });
}

// The registered class of that name, or nullptr.
const QMetaObject* QRComponentClass(const QString& className);

// Makes a component of the registered class of that name as a child of `parent`; nullptr
// when no class of that name is registered. For hosts that make components outside a form
// file (the Designer plugin).
QWidget* QRCreateComponent(const QString& className, QWidget* parent);

class QRFormLoader {
 public:
  QRFormLoader() = default;
  QRFormLoader(const QRFormLoader&) = delete;
  QRFormLoader& operator=(const QRFormLoader&) = delete;

  // The form's top-level widget, or nullptr with ErrorString set.
  std::unique_ptr<QWidget> Load(QIODevice& device);
  std::unique_ptr<QWidget> Load(const QString& fileName);

  // Why the last Load failed; empty after a success.
  QString ErrorString() const { return error_; }

 private:
  QString error_;
};
