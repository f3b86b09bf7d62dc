// Quire01: the binding of the library to the C API.
//
// Loads libnthtapi.so and libnnotes.so once per process (Initialize), resolves the entry
// points into the public table HTAPI, initialises the API, and at process exit terminates it
// and frees both libraries. Every other module reaches the API only through HTAPI and reads
// the globals below to learn whether it can be used.
//
// An entry point the loaded library does not export is never null: its slot holds a
// fallback that returns HTFAIL_NOT_IMPLEMENTED (or 0 for calls that return a count or an
// identifier), so no caller has to test a slot before calling it.
//
// Threads: loading runs on the thread that calls Initialize; the globals are process-wide
// and unguarded, as the rest of the library is single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "hitest/hitest.h"

// The entry-point table: one member per entry point, named after its slot.
struct THTAPITable {
#define HT_ENTRY(slot, exportName, ret, params, args) HT_##slot##_fn slot;
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
  HT_NSFNoteSign_fn NSFNoteSign;
  HT_OSLoadString_fn OSLoadString;
};

extern THTAPITable HTAPI;

// Process-wide state.
extern bool DLLLoaded;       // libnthtapi.so was loaded
extern bool HTInitOK;        // _HTInit returned 0
extern bool TranslateOn;     // native/LMBCS translation switch; false after loading
extern uint32_t HTGlobalErr; // the result of _HTInit
extern int32_t HTDateFormat; // date order (HTDATEORDER) of the international settings
// HTVERSION_LIBRARY (0x00045000) comes from hitest.h.

// True when `slot` of HTAPI still holds its fallback (the export was missing or the
// library was not loaded). Slot names are those of HTEntryPoints.def.
bool HTSlotIsEmpty(const char* slot);

// The library's own entry points for its host. Initialize runs the loading once per
// process (a counter makes later calls do nothing until Finalize); Finalize undoes the
// count and neither terminates the API nor frees a library: that is the exit handler's job.
extern "C" {
void Initialize();
void Finalize();
}

// Where the loader looks for its libraries; tests point these at doubles. Defaults are
// "libnthtapi.so" and "libnnotes.so", found by the dynamic loader's normal search.
void SetAPILibraryNames(const std::string& nthtapi, const std::string& nnotes);

// Native <-> LMBCS translation through HTTranslate, only while TranslateOn is set.
void Translate_To_Native(const char* source, std::string& dest);
void Translate_From_Native(const char* source, std::string& dest);

// Universal IDs in their 32-character text form (W1 W0 W3 W2, upper-case hexadecimal).
// StrToUNID throws rtl::EConvertError on a character other than 0-9 and A-F; a trimmed
// text that is not 32 characters long gives the all-zero identifier.
UNID StrToUNID(const std::string& text);
std::string UNIDToStr(const UNID& unid);

// The shared rule of every GetNotesErrorString: the API's message for `code` (256-byte
// buffer), or the empty text when the API has none.
std::string GetNotesErrorText(uint32_t code);
