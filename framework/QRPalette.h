// QRPalette: the registry of components a form designer offers, page by page.
//
// A component unit announces its classes with RegisterComponents(page, {&T::staticMetaObject}),
// typically from a function named Register that the host (the Designer plugin, a test)
// calls. The registry keeps every registration in call order, so the designer shows each
// page's components in the order they were registered. Page names are kept exactly as
// given; PaletteEntriesOnPage compares them without regard to letter case, as users see one
// page whatever spelling a unit used.
//
// Registering a class again on the same page (in any spelling) changes nothing; on another
// page it adds a second entry, so a class may stand on two pages.
//
// Threads: the GUI thread only, like the components themselves. The registry lives for the
// whole process; metaObject pointers are the classes' static meta-objects.
#pragma once

#include <QtCore/QString>
#include <initializer_list>
#include <vector>

struct QMetaObject;

struct QRPaletteEntry {
  QString page;
  const QMetaObject* metaObject;
};

// Adds each class to `page`, in the order given.
void RegisterComponents(const QString& page, std::initializer_list<const QMetaObject*> classes);

// Every registration so far, in call order.
const std::vector<QRPaletteEntry>& PaletteEntries();

// The registrations on `page` (letter case ignored), in call order.
std::vector<QRPaletteEntry> PaletteEntriesOnPage(const QString& page);

// Forgets every registration; for tests that register again from a clean state.
void ClearPalette();
