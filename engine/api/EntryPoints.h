// Prototypes of every entry point, generated from the one list (hitest/HTEntryPoints.def).
// Each api/*.cpp includes this, so a definition whose signature drifts from the contract
// fails to compile instead of exporting a function of the wrong type. Tests that link the
// engine include it to call the entry points directly.
#pragma once

#include "engine/core/Export.h"
#include "hitest/hitest.h"

#define HT_ENTRY(slot, exportName, ret, params, args) HT_EXPORT ret exportName params;
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY

// Engine extensions defined in api/*.cpp (hitest.h, "Engine extensions").
HT_EXPORT HTUINT HTQuireConfigWarnings(HTUINT capacity, char* text);
