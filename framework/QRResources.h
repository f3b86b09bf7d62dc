// QRResources: the bitmaps compiled into libquirewidgets (resources/quire.qrc), each loaded
// by the name the components give it ("TQUIREDATACTRL" ...).
//
// A bitmap that is not there yields a null QPixmap (isNull() true); nothing throws. The GUI
// thread only (QPixmap).
#pragma once

#include <QtCore/QString>
#include <QtGui/QPixmap>

// ":/quire/bitmaps/<name>", the resource path of a bitmap.
QString QRBitmapPath(const QString& name);
QPixmap QRLoadBitmap(const QString& name);
