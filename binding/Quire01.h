// Quire01: the binding of the library to the C API.
//
// Loads libnthtapi.so and libnnotes.so once per process (the first Initialize), resolves the
// entry points into the public table HTAPI, initialises the API, and at process exit
// terminates it and frees both libraries. Every other module reaches the API only through
// HTAPI and reads the globals below to learn whether it can be used.
//
// An entry point the loaded library does not export is never null: its slot holds a
// fallback that returns HTFAIL_NOT_IMPLEMENTED (or 0 for calls that return a count, an
// identifier or a Boolean), so no caller has to test a slot before calling it. The same
// holds before loading, when libnthtapi.so is missing, and after the exit handler has run:
// it puts every slot back to its fallback before it frees the libraries, so code that runs
// later at exit fails cleanly instead of calling into unloaded code.
//
// Loading outcomes: libnthtapi.so missing (one message box through rtl::ShowMessageBox,
// DLLLoaded false), loaded but _HTInit failed (HTGlobalErr holds its code, HTInitOK false,
// HTTerm never called), or loaded and initialised. libnnotes.so is loaded in every case;
// its absence is silent. TranslateOn is false after loading whatever happened.
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
#include "rtl/Export.h"
#undef HT_ENTRY
  HT_NSFNoteSign_fn NSFNoteSign;
  HT_OSLoadString_fn OSLoadString;
};

extern QUIRE_API THTAPITable HTAPI;

// Process-wide state.
extern QUIRE_API bool DLLLoaded;       // libnthtapi.so was loaded
extern QUIRE_API bool HTInitOK;        // _HTInit returned 0
extern QUIRE_API bool TranslateOn;     // native/LMBCS translation switch; false after loading
extern QUIRE_API uint32_t HTGlobalErr; // the result of _HTInit
extern QUIRE_API int32_t HTDateFormat; // date order (HTDATEORDER) of the international settings
// HTVERSION_LIBRARY (0x00045000) comes from hitest.h.

// True when `slot` of HTAPI still holds its fallback (the export was missing or the
// library was not loaded). Slot names are those of HTEntryPoints.def, plus "NSFNoteSign"
// and "OSLoadString"; an unknown name (or nullptr) counts as empty.
QUIRE_API bool HTSlotIsEmpty(const char* slot);

// The library's own entry points for its host. The first Initialize of the process runs the
// loading; later calls, before or after a Finalize, only count. Finalize takes one count
// back and neither terminates the API nor frees a library: that is the exit handler's job
// (registered by the loading with atexit, run once, HTTerm(8) only when HTInitOK).
extern "C" {
QUIRE_API void Initialize();
QUIRE_API void Finalize();
}

// Where the loader looks for its libraries; tests point these at doubles. Defaults are
// "libnthtapi.so" and "libnnotes.so", found by the dynamic loader's normal search (libquire's
// RUNPATH $ORIGIN first). Only a call before the first Initialize has an effect.
QUIRE_API void SetAPILibraryNames(const std::string& nthtapi, const std::string& nnotes);

// Native <-> LMBCS translation through HTTranslate, only while TranslateOn is set; off, and
// for an empty source, `dest` is a copy of `source` and the API is not called (a null
// source counts as empty). The buffer is 2 x length below 32000 bytes, length + 1000 from
// there on; when the API answers HTFAIL_BUFFER_TOO_SMALL with the length it needs in its
// out-length, the text is translated once more into a buffer of that size. The result
// never reaches past the buffer. When HTTranslate fails otherwise (or its slot is empty),
// `dest` is the untranslated source. `source` may point into `dest`.
QUIRE_API void Translate_To_Native(const char* source, std::string& dest);
QUIRE_API void Translate_From_Native(const char* source, std::string& dest);

// Universal IDs in their 32-character text form (W1 W0 W3 W2, upper-case hexadecimal).
// StrToUNID first trims every character of code 32 or less from both ends. A trimmed text
// that is not 32 characters long gives the all-zero identifier (which no document has, so
// the API's look-up reports its own failure); otherwise a character other than 0-9 and A-F
// (lower-case included) throws rtl::EConvertError "'<group>' is not a valid integer value",
// naming the 8-character group that holds it.
QUIRE_API UNID StrToUNID(const std::string& text);
QUIRE_API std::string UNIDToStr(const UNID& unid);

// The shared rule of every GetNotesErrorString: the API's message for `code` (256-byte
// buffer), or the empty text when the API has none.
QUIRE_API std::string GetNotesErrorText(uint32_t code);
