#include "framework/QRFormReferences.h"

#include <QtCore/QIODevice>
#include <QtCore/QMetaProperty>
#include <QtCore/QXmlStreamReader>
#include <QtCore/QXmlStreamWriter>

#include "framework/QRFormLoader.h"

namespace {

// Copies the form XML without the reference properties of registered classes, which Qt's
// loader could not set, and collects them.
class ReferenceExtractor {
 public:
  bool Run(QIODevice& device, QByteArray& copy, std::vector<QRComponentReference>& references, QString& error) {
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
    const QMetaObject* meta = QRComponentClass(stack_.back().className);
    if (meta == nullptr) return nullptr;
    const QByteArray name = reader.attributes().value(QLatin1String("name")).toUtf8();
    const int index = meta->indexOfProperty(name.constData());
    return index >= 0 && QRIsComponentReference(meta->property(index)) ? meta : nullptr;
  }

  bool TakeReference(QXmlStreamReader& reader, const QMetaObject& owner, std::vector<QRComponentReference>& references,
                     QString& error) {
    QRComponentReference reference{stack_.back().name, reader.attributes().value(QLatin1String("name")).toString(), QString(),
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

}  // namespace

bool QRIsComponentReference(const QMetaProperty& property) {
  return property.isWritable() && (property.metaType().flags() & QMetaType::PointerToQObject);
}

bool QRExtractComponentReferences(QIODevice& device, QByteArray& copy, std::vector<QRComponentReference>& references,
                                  QString& error) {
  return ReferenceExtractor().Run(device, copy, references, error);
}
