#include "framework/QRFormLoader.h"

#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaProperty>
#include <QtCore/QPointer>
#include <QtUiTools/QUiLoader>
#include <map>
#include <vector>

#include "framework/QRComponent.h"
#include "framework/QRFormReferences.h"

namespace {

struct ClassEntry {
  const QMetaObject* metaObject;
  QRComponentFactory factory;
};

std::map<QString, ClassEntry>& Classes() {
  static std::map<QString, ClassEntry> classes;
  return classes;
}

const ClassEntry* FindClass(const QString& className) {
  const auto it = Classes().find(className);
  return it == Classes().end() ? nullptr : &it->second;
}

// Qt's loader, making registered classes through their factories in the loading state.
class ComponentUiLoader : public QUiLoader {
 public:
  ComponentUiLoader() { clearPluginPaths(); }

  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    const ClassEntry* entry = FindClass(className);
    if (entry == nullptr) return QUiLoader::createWidget(className, parent, name);
    QWidget* widget = entry->factory(parent);
    if (widget == nullptr) return nullptr;
    widget->setObjectName(name);
    if (QRComponent* component = QRComponentOf(widget)) {
      component->SetLoading(true);
      made.push_back(widget);
    }
    return widget;
  }

  std::vector<QPointer<QWidget>> made;
};

QObject* FindOnForm(QWidget& form, const QString& name) {
  if (form.objectName() == name) return &form;
  return form.findChild<QObject*>(name);
}

bool Resolve(QWidget& form, const QRComponentReference& reference, QString& error) {
  if (reference.target.isEmpty()) return true;
  QObject* holder = FindOnForm(form, reference.component);
  QObject* target = FindOnForm(form, reference.target);
  const auto where = QStringLiteral("line %1: property '%2' of '%3'").arg(reference.line).arg(reference.property,
                                                                                              reference.component);
  if (holder == nullptr) {
    error = where + QStringLiteral(": the component is not on the form");
    return false;
  }
  if (target == nullptr) {
    error = where + QStringLiteral(" names '%1', which is not on the form").arg(reference.target);
    return false;
  }
  const QMetaObject* meta = holder->metaObject();
  const QMetaProperty property = meta->property(meta->indexOfProperty(reference.property.toUtf8().constData()));
  const QMetaObject* wanted = property.metaType().metaObject();
  if (wanted != nullptr && !target->metaObject()->inherits(wanted)) {
    error = where + QStringLiteral(" names '%1', which is a %2, not a %3")
                        .arg(reference.target, QLatin1String(target->metaObject()->className()),
                             QLatin1String(wanted->className()));
    return false;
  }
  // Every QObject-derived class has QObject as its first base, so the object's address is
  // also its address as the property's class.
  if (!property.write(holder, QVariant(property.metaType(), &target))) {
    error = where + QStringLiteral(" could not be set to '%1'").arg(reference.target);
    return false;
  }
  return true;
}

}  // namespace

void QRRegisterComponentClass(const QMetaObject& metaObject, QRComponentFactory factory) {
  Classes()[QLatin1String(metaObject.className())] = {&metaObject, std::move(factory)};
}

const QMetaObject* QRComponentClass(const QString& className) {
  const ClassEntry* entry = FindClass(className);
  return entry ? entry->metaObject : nullptr;
}

QWidget* QRCreateComponent(const QString& className, QWidget* parent) {
  const ClassEntry* entry = FindClass(className);
  return entry ? entry->factory(parent) : nullptr;
}

std::unique_ptr<QWidget> QRFormLoader::Load(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    error_ = QStringLiteral("%1: %2").arg(fileName, file.errorString());
    return nullptr;
  }
  auto form = Load(file);
  if (!form) error_ = fileName + QStringLiteral(": ") + error_;
  return form;
}

std::unique_ptr<QWidget> QRFormLoader::Load(QIODevice& device) {
  error_.clear();
  QByteArray copy;
  std::vector<QRComponentReference> references;
  if (!QRExtractComponentReferences(device, copy, references, error_)) return nullptr;

  ComponentUiLoader loader;
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  std::unique_ptr<QWidget> form(loader.load(&buffer, nullptr));
  if (!form) {
    error_ = loader.errorString().isEmpty() ? QStringLiteral("the form could not be read") : loader.errorString();
    return nullptr;
  }
  for (const QRComponentReference& reference : references) {
    if (!Resolve(*form, reference, error_)) return nullptr;
  }
  for (const QPointer<QWidget>& widget : loader.made) {
    if (widget.isNull()) continue;
    if (QRComponent* component = QRComponentOf(widget.data())) component->FinishLoading();
  }
  return form;
}
