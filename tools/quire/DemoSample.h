// The sample data of `quire demo`: made once, then shown as a person reads them.
#pragma once

#include <iosfwd>

class TQuireDatabase;

namespace quirecli {

// Adds the sample documents, views, folder and full-text index when the database has no
// documents yet. Throws Failure naming what could not be made.
void EnsureSampleData(TQuireDatabase& database, std::ostream& out);

// Prints the categorised view with its totals, a key search and a full-text search.
void ShowSampleData(TQuireDatabase& database, std::ostream& out);

}  // namespace quirecli
