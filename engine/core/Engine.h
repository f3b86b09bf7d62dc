// Process-wide engine state between _HTInit and HTTerm.
//
// `start` creates the Config for $QUIRE_DATA (or the default data directory); `stop` closes
// every handle, runs the registered shutdown hooks (areas drop their caches there) and forgets
// the Config. Calls that need the configuration use `config()`, which throws
// Error(HTFAIL_NOT_INITIALIZED) before `start`. Thread-safe.
#pragma once

#include <functional>

#include "engine/core/Config.h"

namespace quire::engine {

// The oldest and newest API versions _HTInit accepts (all of 4.x up to the contract's).
constexpr HTUINT kMinApiVersion = 0x00040000u;
constexpr HTUINT kMaxApiVersion = HTVERSION_LIBRARY;

// Starts the engine once; a second start while running changes nothing.
HTSTATUS start(HTUINT version);
void stop();
bool running();

// The configuration; throws Error(HTFAIL_NOT_INITIALIZED) when the engine is not running.
Config& config();

// Runs `hook` at every stop, after the handles are closed. Register from a static
// initialiser or at first use; hooks run in registration order.
void onStop(std::function<void()> hook);

}  // namespace quire::engine
