#include "framework/QRResources.h"

QString QRBitmapPath(const QString& name) { return QStringLiteral(":/quire/bitmaps/") + name; }

QPixmap QRLoadBitmap(const QString& name) { return QPixmap(QRBitmapPath(name)); }
