// QRReferenceSheet: component references (NotesDataCtrl, MasterCtrl ...) in Designer's
// property editor.
//
// A reference is a Q_PROPERTY of a registered component class whose type points to a
// QObject-derived class. Designer's own property sheet neither shows nor saves such a
// property, so a form re-saved in Designer would lose it. This sheet stands in front of
// Designer's own one for every registered component that has references: each reference is
// shown as the name of the component it refers to, edited as text, and written to the form as
// <cstring>Name</cstring> (or <string>Name</string> when the form read held it so), which
// the framework's form loader resolves once every widget exists. Every other property, and every index, is Designer's own sheet unchanged.
//
// The sheet only keeps names; it never writes the component's pointer, so nothing a
// component does at run time depends on the plugin. A name that no longer matches a widget on
// the form (renamed or deleted) simply stays as text.
//
// Ownership: the factory belongs to Designer's extension manager (its parent) and is made once
// per manager by QRInstallReferenceSheets; each sheet belongs to the factory, which deletes it
// with the component. The sheet does not own Designer's sheet, and stops forwarding to it once
// it is gone. Threads: Designer's GUI thread.
#pragma once

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtCore/QVariant>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionFactory>

class QDesignerFormEditorInterface;
class QExtensionManager;

class QRReferenceSheet : public QObject, public QDesignerPropertySheetExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerPropertySheetExtension)

 public:
  // `designerSheet` is Designer's own sheet of `component`, with `designerObject` its QObject.
  QRReferenceSheet(QObject* component, QDesignerPropertySheetExtension* designerSheet, QObject* designerObject,
                   QObject* parent);

  int count() const override;
  int indexOf(const QString& name) const override;
  QString propertyName(int index) const override;
  QString propertyGroup(int index) const override;
  void setPropertyGroup(int index, const QString& group) override;
  bool hasReset(int index) const override;
  bool reset(int index) override;
  bool isVisible(int index) const override;
  void setVisible(int index, bool b) override;
  bool isAttribute(int index) const override;
  void setAttribute(int index, bool b) override;
  QVariant property(int index) const override;
  void setProperty(int index, const QVariant& value) override;
  bool isChanged(int index) const override;
  void setChanged(int index, bool changed) override;
  bool isEnabled(int index) const override;

 private:
  struct Reference {
    QString group;  // the class that declares the property
    // The name of the component referred to, as Designer gave it; empty: unset. Kept in
    // Designer's own form, so that the property editor edits it and the form writes it back
    // as it was read: a new name as <cstring>, a <string> read from a form as <string>.
    QVariant value = QByteArray();
    bool changed = false;
  };

  // The reference shown at that index, or nullptr when Designer's own sheet handles it.
  Reference* ReferenceAt(int index);
  const Reference* ReferenceAt(int index) const;
  QDesignerPropertySheetExtension* Designer() const { return designerObject_ ? designerSheet_ : nullptr; }

  QDesignerPropertySheetExtension* designerSheet_;
  QPointer<QObject> designerObject_;
  QHash<QString, Reference> references_;  // by property name
};

// Puts the reference sheets in front of Designer's own sheets in that editor; a second call
// for the same editor does nothing.
void QRInstallReferenceSheets(QDesignerFormEditorInterface* core);

// Whether that object is a registered component with at least one reference property.
bool QRHasComponentReferences(const QObject& object);
