// Shared support for the object-model tests.
//
// Every test process gets a fresh temporary data directory (QUIRE_DATA) and the user
// kTestUser (QUIRE_USER) before Initialize() loads the real engine; the directory is removed
// when the process's tests end. Databases are made through the C API, as an administrator
// would. SlotGuard swaps one entry of the HTAPI table for a recording double and puts the
// real entry back when it goes out of scope, for the cases only a double can observe (which
// arguments reached the API, whether a call was made at all).
#pragma once

#include <string>

#include "binding/Quire01.h"

namespace quiretest {

inline constexpr char kTestUser[] = "Test Manager";
// Set in a child test process's environment: the data directory to share with its parent.
inline constexpr char kSharedDataVariable[] = "QUIRE_TEST_SHARED_DATA";

// The data directory of this test process.
const std::string& DataDir();

// A database path not used before in this process: "<prefix>-<n>.nsf".
std::string UniquePath(const std::string& prefix);

// Creates a local database; the API's result code.
HTSTATUS CreateDatabase(const std::string& path, const std::string& title = "Test");

template <class Fn>
class SlotGuard {
 public:
  SlotGuard(Fn& slot, Fn replacement) : slot_(slot), saved_(slot) { slot_ = replacement; }
  ~SlotGuard() { slot_ = saved_; }
  SlotGuard(const SlotGuard&) = delete;
  SlotGuard& operator=(const SlotGuard&) = delete;
  // The entry that the double replaced, for doubles that record and then forward.
  Fn real() const { return saved_; }

 private:
  Fn& slot_;
  Fn saved_;
};

}  // namespace quiretest
