#include "framework/QRPalette.h"

#include <QtCore/QMetaObject>
#include <algorithm>

namespace {

std::vector<QRPaletteEntry>& entries() {
  static std::vector<QRPaletteEntry> list;
  return list;
}

bool samePage(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

void RegisterComponents(const QString& page, std::initializer_list<const QMetaObject*> classes) {
  auto& list = entries();
  for (const QMetaObject* metaObject : classes) {
    if (!metaObject) continue;
    const bool known = std::any_of(list.begin(), list.end(), [&](const QRPaletteEntry& e) {
      return e.metaObject == metaObject && samePage(e.page, page);
    });
    if (!known) list.push_back({page, metaObject});
  }
}

const std::vector<QRPaletteEntry>& PaletteEntries() { return entries(); }

std::vector<QRPaletteEntry> PaletteEntriesOnPage(const QString& page) {
  std::vector<QRPaletteEntry> onPage;
  for (const QRPaletteEntry& e : entries())
    if (samePage(e.page, page)) onPage.push_back(e);
  return onPage;
}

void ClearPalette() { entries().clear(); }
