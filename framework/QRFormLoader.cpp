#include "framework/QRFormLoader.h"

#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaProperty>
#include <QtCore/QPointer>
#include <QtCore/QXmlStreamReader>
#include <QtCore/QXmlStreamWriter>
#include <QtUiTools/QUiLoader>
#include <map>
#include <vector>

#include "framework/QRComponent.h"

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

bool IsReference(const QMetaProperty& property) {
  return property.isWritable() && (property.metaType().flags() & QMetaType::PointerToQObject);
}

// One component reference read from the form, resolved after every widget exists.
struct Reference {
  QString component;  // the objectName of the component holding the property
  QString property;
  QString target;     // the name of the component it refers to
  qint64 line;
};

// Copies the form XML without the reference properties of registered classes, which Qt's
// loader could not set, and collects them.
class ReferenceExtractor {
 public:
  bool Run(QIODevice& device, QByteArray& copy, std::vector<Reference>& references, QString& error) {
    QXmlStreamReader reader(&device);
    QXmlStreamWriter writer(&copy);
    while (!reader.atEnd()) {
      reader.readNext();
      if (reader.isStartElement()) {
        if (const QMetaObject* owner = ReferenceOwner(reader)) {
          if (!TakeReference(reader, *owner, references, error)) return false;
          continue;
        }
        Push(reader);
      } else if (reader.isEndElement() && !stack_.empty()) {
        stack_.pop_back();
      }
      if (!reader.hasError()) writer.writeCurrentToken(reader);
    }
    if (reader.hasError()) {
      error = QStringLiteral("line %1, column %2: %3")
                  .arg(reader.lineNumber())
                  .arg(reader.columnNumber())
                  .arg(reader.errorString());
      return false;
    }
    return true;
  }

 private:
  struct Frame {
    bool isWidget;
    QString className;
    QString name;
  };

  void Push(const QXmlStreamReader& reader) {
    const bool widget = reader.name() == u"widget";
    const auto attributes = reader.attributes();
    stack_.push_back({widget, widget ? attributes.value(QLatin1String("class")).toString() : QString(),
                      widget ? attributes.value(QLatin1String("name")).toString() : QString()});
  }

  // The class of the enclosing widget when the current element is one of its reference
  // properties; nullptr otherwise.
  const QMetaObject* ReferenceOwner(const QXmlStreamReader& reader) const {
    if (reader.name() != u"property" || stack_.empty() || !stack_.back().isWidget) return nullptr;
    const ClassEntry* entry = FindClass(stack_.back().className);
    if (entry == nullptr) return nullptr;
    const QByteArray name = reader.attributes().value(QLatin1String("name")).toUtf8();
    const int index = entry->metaObject->indexOfProperty(name.constData());
    return index >= 0 && IsReference(entry->metaObject->property(index)) ? entry->metaObject : nullptr;
  }

  bool TakeReference(QXmlStreamReader& reader, const QMetaObject& owner, std::vector<Reference>& references,
                     QString& error) {
    Reference reference{stack_.back().name, reader.attributes().value(QLatin1String("name")).toString(), QString(),
                        reader.lineNumber()};
    bool named = false;
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
      reader.readNext();
      if (reader.isStartElement()) {
        ++depth;
        if (depth == 2 && (reader.name() == u"string" || reader.name() == u"cstring")) {
          reference.target = reader.readElementText().trimmed();
          named = true;
          --depth;
        } else if (depth == 2) {
          error = QStringLiteral("line %1: property '%2' of '%3' (%4) must name a component")
                      .arg(reference.line)
                      .arg(reference.property, reference.component, QLatin1String(owner.className()));
          return false;
        }
      } else if (reader.isEndElement()) {
        --depth;
      }
    }
    if (reader.hasError()) return true;  // reported by the caller's loop
    if (named) references.push_back(reference);
    return true;
  }

  std::vector<Frame> stack_;
};

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

bool Resolve(QWidget& form, const Reference& reference, QString& error) {
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
  std::vector<Reference> references;
  if (!ReferenceExtractor().Run(device, copy, references, error_)) return nullptr;

  ComponentUiLoader loader;
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  std::unique_ptr<QWidget> form(loader.load(&buffer, nullptr));
  if (!form) {
    error_ = loader.errorString().isEmpty() ? QStringLiteral("the form could not be read") : loader.errorString();
    return nullptr;
  }
  for (const Reference& reference : references) {
    if (!Resolve(*form, reference, error_)) return nullptr;
  }
  for (const QPointer<QWidget>& widget : loader.made) {
    if (widget.isNull()) continue;
    if (QRComponent* component = QRComponentOf(widget.data())) component->FinishLoading();
  }
  return form;
}
