// The sample database: a few hundred orders with comments, a categorised view with totals, a
// hierarchical view, a folder, a full-text index and a small access control list. Both the
// `quire demo` command and the explorer make it through here, so the two always agree on
// what "the sample" is.
//
// Everything works on the object model of an initialised library (Initialize() has run) and
// throws SampleFailure, naming what could not be made, when the engine refuses a step. Each
// step is idempotent: a database that already holds the data is left as it is. The caller
// owns the database objects it passes and receives. Threads: the caller's, one at a time.
#pragma once

#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

class TQuireDatabase;
class TQuireSession;

namespace quiresample {

class SampleFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the sample lives: on the local server, in the data directory's top level.
inline constexpr char kSamplePath[] = "sample.nsf";
inline constexpr char kSampleTitle[] = "Quire Sample";
inline constexpr char kByCustomer[] = "By Customer";
inline constexpr char kThreads[] = "Threads";
inline constexpr char kFollowUp[] = "Follow Up";

// Creates the sample database file when it is missing and opens it. `created` tells which.
std::unique_ptr<TQuireDatabase> OpenSampleDatabase(TQuireSession& session, bool& created);

// Adds the sample roles and entries that are missing, and gives `user` the [Admin] role.
void EnsureSampleACL(TQuireDatabase& database, const std::string& user);

// Adds the sample documents, views, folder and full-text index when the database has no
// documents yet, and says so on `out`.
void EnsureSampleData(TQuireDatabase& database, std::ostream& out);

// All three: the sample database as `quire demo` leaves it, opened.
std::unique_ptr<TQuireDatabase> EnsureSampleDatabase(TQuireSession& session, std::ostream& out);

// Prints the categorised view with its totals, a key search and a full-text search.
void ShowSampleData(TQuireDatabase& database, std::ostream& out);

}  // namespace quiresample
