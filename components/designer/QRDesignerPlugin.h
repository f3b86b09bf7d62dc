// QRDesignerPlugin: the Quire components in Qt Designer's widget box.
//
// The collection is made from the palette registry: loading the plugin runs the package's
// registration (QRReg) and the component units' own, then offers one widget per registered
// class, in registration order, in the group named by its page, with the class's palette
// bitmap as its icon (Designer's default icon when it has none). A widget Designer makes is a
// component in the designing state, so it looks as it does on a form being designed and
// raises no run-time events.
//
// Component references (NotesDataCtrl, MasterCtrl) are pointers, which Designer's own
// property sheet neither shows nor saves. The first widget Designer initializes puts a
// reference sheet (QRReferenceSheet.h) in front of it, so the property editor shows each
// reference as a name and the form stores it as one, for the framework's form loader to
// resolve.
//
// Ownership: the collection owns its widget interfaces; Designer owns the widgets it makes.
// Threads: Designer's GUI thread.
#pragma once

#include <QtCore/QObject>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

struct QRPaletteEntry;

// One registered class as Designer sees it.
class QRDesignerWidget : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  QRDesignerWidget(const QRPaletteEntry& entry, QObject* parent);

  QString name() const override { return className_; }
  QString group() const override { return group_; }
  QString toolTip() const override { return className_; }
  QString whatsThis() const override { return className_; }
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return initialized_; }
  void initialize(QDesignerFormEditorInterface* core) override;
  QString domXml() const override;

 private:
  const QMetaObject* metaObject_;
  QString className_;
  QString group_;
  bool initialized_ = false;
};

class QRDesignerPlugin : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit QRDesignerPlugin(QObject* parent = nullptr);
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

 private:
  QList<QDesignerCustomWidgetInterface*> widgets_;
};
