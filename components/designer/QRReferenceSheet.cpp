#include "components/designer/QRReferenceSheet.h"

#include <QtCore/QMetaProperty>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QExtensionManager>

#include "framework/QRFormLoader.h"
#include "framework/QRFormReferences.h"

namespace {

const QString kFactoryName = QStringLiteral("QRReferenceSheetFactory");

class ReferenceSheetFactory : public QExtensionFactory {
 public:
  explicit ReferenceSheetFactory(QExtensionManager* manager) : QExtensionFactory(manager), manager_(manager) {
    setObjectName(kFactoryName);
  }

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override {
    if (asking_ || iid != QLatin1String(Q_TYPEID(QDesignerPropertySheetExtension)) || object == nullptr ||
        !QRHasComponentReferences(*object))
      return nullptr;
    // Designer's own sheet, found through the manager while this factory declines: the
    // manager asks the factories registered before this one.
    asking_ = true;
    QObject* designerObject = manager_->extension(object, iid);
    asking_ = false;
    auto* designerSheet = qobject_cast<QDesignerPropertySheetExtension*>(designerObject);
    if (designerSheet == nullptr) return nullptr;
    return new QRReferenceSheet(object, designerSheet, designerObject, parent);
  }

 private:
  QExtensionManager* manager_;
  mutable bool asking_ = false;
};

}  // namespace

bool QRHasComponentReferences(const QObject& object) {
  const QMetaObject* meta = object.metaObject();
  if (QRComponentClass(QLatin1String(meta->className())) != meta) return false;
  for (int i = 0; i < meta->propertyCount(); ++i)
    if (QRIsComponentReference(meta->property(i))) return true;
  return false;
}

void QRInstallReferenceSheets(QDesignerFormEditorInterface* core) {
  QExtensionManager* manager = core ? core->extensionManager() : nullptr;
  if (manager == nullptr || manager->findChild<QExtensionFactory*>(kFactoryName, Qt::FindDirectChildrenOnly)) return;
  // Factories registered later are asked first, so this one comes before Designer's own.
  manager->registerExtensions(new ReferenceSheetFactory(manager), Q_TYPEID(QDesignerPropertySheetExtension));
}

QRReferenceSheet::QRReferenceSheet(QObject* component, QDesignerPropertySheetExtension* designerSheet,
                                   QObject* designerObject, QObject* parent)
    : QObject(parent), designerSheet_(designerSheet), designerObject_(designerObject) {
  const QMetaObject* meta = component->metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (!QRIsComponentReference(property)) continue;
    Reference reference;
    const QMetaObject* declaring = meta;
    while (declaring->superClass() && declaring->superClass()->indexOfProperty(property.name()) == i)
      declaring = declaring->superClass();
    reference.group = QLatin1String(declaring->className());
    // A component made outside Designer may already point somewhere; it shows under that name.
    if (QObject* target = property.read(component).value<QObject*>()) reference.value = target->objectName().toUtf8();
    references_.insert(QLatin1String(property.name()), reference);
  }
}

QRReferenceSheet::Reference* QRReferenceSheet::ReferenceAt(int index) {
  return const_cast<Reference*>(std::as_const(*this).ReferenceAt(index));
}

const QRReferenceSheet::Reference* QRReferenceSheet::ReferenceAt(int index) const {
  QDesignerPropertySheetExtension* designer = Designer();
  if (designer == nullptr || index < 0 || index >= designer->count()) return nullptr;
  const auto it = references_.constFind(designer->propertyName(index));
  return it == references_.constEnd() ? nullptr : &it.value();
}

int QRReferenceSheet::count() const { return Designer() ? Designer()->count() : 0; }

int QRReferenceSheet::indexOf(const QString& name) const { return Designer() ? Designer()->indexOf(name) : -1; }

QString QRReferenceSheet::propertyName(int index) const {
  return Designer() ? Designer()->propertyName(index) : QString();
}

QString QRReferenceSheet::propertyGroup(int index) const {
  if (const Reference* reference = ReferenceAt(index)) return reference->group;
  return Designer() ? Designer()->propertyGroup(index) : QString();
}

void QRReferenceSheet::setPropertyGroup(int index, const QString& group) {
  if (Reference* reference = ReferenceAt(index)) {
    reference->group = group;
  } else if (Designer()) {
    Designer()->setPropertyGroup(index, group);
  }
}

bool QRReferenceSheet::hasReset(int index) const {
  if (ReferenceAt(index)) return true;
  return Designer() && Designer()->hasReset(index);
}

bool QRReferenceSheet::reset(int index) {
  if (Reference* reference = ReferenceAt(index)) {
    reference->value = QByteArray();
    reference->changed = false;
    return true;
  }
  return Designer() && Designer()->reset(index);
}

bool QRReferenceSheet::isVisible(int index) const {
  if (ReferenceAt(index)) return true;
  return Designer() && Designer()->isVisible(index);
}

void QRReferenceSheet::setVisible(int index, bool b) {
  if (!ReferenceAt(index) && Designer()) Designer()->setVisible(index, b);
}

bool QRReferenceSheet::isAttribute(int index) const {
  if (ReferenceAt(index)) return false;
  return Designer() && Designer()->isAttribute(index);
}

void QRReferenceSheet::setAttribute(int index, bool b) {
  if (!ReferenceAt(index) && Designer()) Designer()->setAttribute(index, b);
}

QVariant QRReferenceSheet::property(int index) const {
  if (const Reference* reference = ReferenceAt(index)) return reference->value;
  return Designer() ? Designer()->property(index) : QVariant();
}

void QRReferenceSheet::setProperty(int index, const QVariant& value) {
  if (Reference* reference = ReferenceAt(index)) {
    reference->value = value;
    return;
  }
  if (Designer()) Designer()->setProperty(index, value);
}

bool QRReferenceSheet::isChanged(int index) const {
  if (const Reference* reference = ReferenceAt(index)) return reference->changed;
  return Designer() && Designer()->isChanged(index);
}

void QRReferenceSheet::setChanged(int index, bool changed) {
  if (Reference* reference = ReferenceAt(index)) {
    reference->changed = changed;
  } else if (Designer()) {
    Designer()->setChanged(index, changed);
  }
}

bool QRReferenceSheet::isEnabled(int index) const {
  if (ReferenceAt(index)) return true;
  return Designer() && Designer()->isEnabled(index);
}
