// QRComponent: what every Quire component shares, as a small mixin beside its Qt base class.
//
// A component is a QWidget (or another QObject) that also derives from QRComponent. It has:
//
// - an owner and a name: the owner is the root of its QObject parent chain (the form it
//   sits on), the name is its objectName;
// - a component state: loading (set by the form loader while it creates the components of
//   a form and sets their properties, cleared just before Loaded) and designing (set by the
//   Designer plugin while the component sits on a form being designed);
// - Notification(component, operation): opInsert when a component is made, opRemove when one
//   is destroyed, delivered to every other component of the same owner and to every
//   component linked with FreeNotification. The component passed is the QObject identity of
//   the one being made or destroyed: compare the pointer with the ones you hold, never call
//   through it (during opInsert it is not finished, during opRemove it is half gone);
// - Loaded(), called once by the form loader after every component of the form exists, has
//   its properties and has its component references resolved.
//
// The rules for a component, in short:
//  1. Derive from the Qt class first, then from QRComponent, and pass `this` to the mixin.
//  2. A property setter stores its value; what it sets in motion (opening a database,
//     activating) waits while IsLoading() and is done, if at all, by Loaded().
//  3. A property that refers to another component is a Q_PROPERTY whose type is a pointer to
//     a QObject-derived class. A form stores it as the other component's name; the form
//     loader resolves it once every component exists (QRFormLoader.h). Register the class
//     with QRRegisterComponentClass so a form can make it.
//  4. Whoever holds a pointer to another component drops it in Notification(opRemove) for
//     that component. A reference that may cross forms also calls FreeNotification.
//  5. Events are std::function members named as specified; a callable set means assigned.
//  6. Errors never leave through an exception: report through the component's own error path.
//
// Threads: components live on the GUI thread; every function here is called there.
#pragma once

#include <QtCore/QObject>
#include <functional>
#include <vector>

// The notification event: Sender only.
using TNotifyEvent = std::function<void(QObject* Sender)>;

enum TOperation { opInsert, opRemove };

class QRComponent {
 public:
  // `self` is the QObject this mixin is part of (normally `this` of the component). Sends
  // opInsert to the components of the same owner.
  explicit QRComponent(QObject* self);
  // Sends opRemove to the components of the same owner and the linked ones.
  virtual ~QRComponent();
  QRComponent(const QRComponent&) = delete;
  QRComponent& operator=(const QRComponent&) = delete;

  QObject* ComponentObject() const { return self_; }
  // The root of the component's QObject parent chain; the component itself when it has no
  // parent.
  QObject* Owner() const;

  bool IsLoading() const { return loading_; }
  bool IsDesigning() const { return designing_; }
  void SetLoading(bool on) { loading_ = on; }
  // Calls DesigningChanged when the state changes.
  void SetDesigning(bool on);

  // Links this component and `other` both ways: each is told when the other is destroyed,
  // whatever their owners. Linking twice is harmless; links end with either component.
  void FreeNotification(QRComponent* other);
  void RemoveFreeNotification(QRComponent* other);

  // The form loader calls this once per component after the whole form is read: clears the
  // loading state, then calls Loaded.
  void FinishLoading();

 protected:
  virtual void Notification(QObject* /*component*/, TOperation /*operation*/) {}
  virtual void Loaded() {}
  virtual void DesigningChanged() {}

 private:
  static void Broadcast(QRComponent* source, TOperation operation);

  QObject* const self_;
  bool loading_ = false;
  bool designing_ = false;
  std::vector<QRComponent*> linked_;
};

// Finds the component of `object` (nullptr when it is not a component).
QRComponent* QRComponentOf(QObject* object);
