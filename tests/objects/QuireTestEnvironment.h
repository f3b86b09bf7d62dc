// The library is initialised once per test process, against the real engine in a temporary
// data directory, by the environment of TestEnv.cpp, which gtest runs before any test. Test
// fixtures that need the engine call EnsureInitialized to state that dependency.
#pragma once

#include "binding/Quire01.h"
#include "tests/objects/TestEnv.h"

namespace quiretest {

// True when the engine was loaded and initialised for this process.
inline bool EnsureInitialized() { return DLLLoaded && HTInitOK; }

}  // namespace quiretest
