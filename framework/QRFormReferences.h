// QRFormReferences: the form loader's first pass, internal to the framework (and its fuzz
// target). It copies a `.ui` form without the component-reference properties of registered
// classes (a Q_PROPERTY whose type points to a QObject-derived class), which Qt's own loader
// could not set, and collects them for resolution once every widget exists.
//
// Never throws. False with `error` set ("line L, column C: ...") for XML that is not well
// formed or a reference property that holds something other than a name; `copy` is then
// incomplete. The GUI thread or any thread that does not register classes meanwhile.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <vector>

class QIODevice;
class QMetaProperty;

struct QRComponentReference {
  QString component;  // the objectName of the component holding the property
  QString property;
  QString target;     // the name of the component it refers to ("" leaves it unset)
  qint64 line;        // where the form holds it
};

// Whether a property is set by name after loading rather than by Qt's loader.
bool QRIsComponentReference(const QMetaProperty& property);

bool QRExtractComponentReferences(QIODevice& device, QByteArray& copy, std::vector<QRComponentReference>& references,
                                  QString& error);
