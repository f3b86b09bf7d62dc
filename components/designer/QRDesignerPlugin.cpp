#include "components/designer/QRDesignerPlugin.h"

#include <QtCore/QMetaClassInfo>
#include <QtCore/QSet>
#include <QtGui/QIcon>

#include "components/QRMail.h"
#include "components/QRNav.h"
#include "components/QRReg.h"
#include "components/QRServls.h"
#include "components/designer/QRReferenceSheet.h"
#include "framework/QRComponent.h"
#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"

namespace {

// The package's registration first, so that its page name is the one the widget box shows;
// the units' own registrations name the same page in another spelling and add nothing new.
void RegisterPackage() {
  QRReg::Register();
  QRNav::Register();
  QRMail::Register();
  QRServls::Register();
}

QString ClassInfo(const QMetaObject& meta, const char* name) {
  const int index = meta.indexOfClassInfo(name);
  return index < 0 ? QString() : QString::fromUtf8(meta.classInfo(index).value());
}

}  // namespace

QRDesignerWidget::QRDesignerWidget(const QRPaletteEntry& entry, QObject* parent)
    : QObject(parent),
      metaObject_(entry.metaObject),
      className_(QLatin1String(entry.metaObject->className())),
      group_(entry.page) {}

QString QRDesignerWidget::includeFile() const {
  const QString declared = ClassInfo(*metaObject_, "IncludeFile");
  return declared.isEmpty() ? className_.toLower() + QStringLiteral(".h") : declared;
}

QIcon QRDesignerWidget::icon() const {
  const QPixmap bitmap = QRLoadBitmap(className_.toUpper());
  return bitmap.isNull() ? QIcon() : QIcon(bitmap);
}

QWidget* QRDesignerWidget::createWidget(QWidget* parent) {
  QWidget* widget = QRCreateComponent(className_, parent);
  if (QRComponent* component = QRComponentOf(widget)) component->SetDesigning(true);
  return widget;
}

// Designer initializes every widget with its editor; the first one puts the reference sheets in.
void QRDesignerWidget::initialize(QDesignerFormEditorInterface* core) {
  QRInstallReferenceSheets(core);
  initialized_ = true;
}

// The default object name is the class name without its leading T, as Designer numbers it.
QString QRDesignerWidget::domXml() const {
  const QString objectName = className_.startsWith(QLatin1Char('T')) ? className_.mid(1) : className_;
  return QStringLiteral("<ui language=\"c++\">\n <widget class=\"%1\" name=\"%2\"/>\n</ui>\n").arg(className_,
                                                                                                    objectName);
}

QRDesignerPlugin::QRDesignerPlugin(QObject* parent) : QObject(parent) {
  RegisterPackage();
  QSet<const QMetaObject*> offered;
  for (const QRPaletteEntry& entry : PaletteEntries()) {
    // Designer knows a class once; it stands in the group it was first registered on.
    if (offered.contains(entry.metaObject) || QRComponentClass(QLatin1String(entry.metaObject->className())) == nullptr)
      continue;
    offered.insert(entry.metaObject);
    widgets_.append(new QRDesignerWidget(entry, this));
  }
}
