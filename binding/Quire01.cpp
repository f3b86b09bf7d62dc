#include "binding/Quire01.h"

#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "rtl/DynamicLibrary.h"
#include "rtl/Errors.h"
#include "rtl/MessageBox.h"

namespace {

// ---- Fallbacks --------------------------------------------------------------------------
//
// Every slot starts out holding a function of the right type that answers as an absent
// entry point would. HTSTATUS, HTUINT and HTID are one C type, so the answer is chosen by
// the return type *as the entry list writes it*: a status call fails with
// HTFAIL_NOT_IMPLEMENTED, while a count (HTUINT: HTFieldGetCount, HTColumnGetCount,
// HTIndexGetCount, HTIndexGetPosition, HTItemGetCount, HTCDRecordGetCount,
// HTTextListGetCount, HTTextListGetLength, HTTextListFetch), an identifier (HTID: the
// locate calls), a Boolean (HTBOOL: HTErrorGetInfo, ...) or a comparison (HTINT) is 0,
// which their callers already read as "none". A return type not listed here does not
// compile, so a new kind of entry point cannot silently get a wrong answer.
#define QR_FALLBACK_RESULT_HTSTATUS HTFAIL_NOT_IMPLEMENTED
#define QR_FALLBACK_RESULT_HTUINT 0u
#define QR_FALLBACK_RESULT_HTID 0u
#define QR_FALLBACK_RESULT_HTBOOL 0
#define QR_FALLBACK_RESULT_HTINT 0

namespace fallback {
#define HT_ENTRY(slot, exportName, ret, params, args) \
  ret slot params { return QR_FALLBACK_RESULT_##ret; }
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY

HTSTATUS NSFNoteSign(HTUINT) { return HTFAIL_NOT_IMPLEMENTED; }

HTUINT OSLoadString(HTUINT, HTSTATUS, char* buffer, HTUINT capacity) {
  if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
  return 0;
}
}  // namespace fallback

constexpr THTAPITable kFallbackTable = {
#define HT_ENTRY(slot, exportName, ret, params, args) .slot = fallback::slot,
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
    .NSFNoteSign = fallback::NSFNoteSign,
    .OSLoadString = fallback::OSLoadString,
};

// ---- Loader state -----------------------------------------------------------------------

constexpr char kLoadErrorCaption[] = "Error";
constexpr char kLoadErrorText[] =
    "Error Loading DLL :(NTHTAPI.DLL)\r\nFile Not Found or Notes client Dlls not Found";
constexpr HTUINT kTermFlags = 8;

struct LoaderState {
  std::string nthtapiName = "libnthtapi.so";
  std::string nnotesName = "libnnotes.so";
  int initCount = 0;     // balance of Initialize and Finalize calls
  bool loaded = false;   // loading has run in this process
  bool shutDown = false; // the exit handler has run
  std::unique_ptr<rtl::DynamicLibrary> nthtapi;
  std::unique_ptr<rtl::DynamicLibrary> nnotes;
};

// Never destroyed: the exit handler still needs it after static destructors may have run.
LoaderState& State() {
  static LoaderState* const state = new LoaderState;
  return *state;
}

template <class Function>
void Resolve(rtl::DynamicLibrary& library, const char* exportName, Function& slot) {
  if (void* address = library.Symbol(exportName)) slot = reinterpret_cast<Function>(address);
}

void ResolveEntryPoints(rtl::DynamicLibrary& library) {
#define HT_ENTRY(slot, exportName, ret, params, args) Resolve(library, #exportName, HTAPI.slot);
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
}

// The directory of the shared object that holds this code, with its trailing '/', or "".
std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Initialize), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Loads `name` by the normal search and, for a bare name, from beside libquire as its
// RUNPATH $ORIGIN intends. The loader does the latter by itself unless something interposes
// dlopen (the sanitizer runtimes do), in which case it searches on the interposer's behalf
// and never looks beside libquire.
bool LoadLibrary(rtl::DynamicLibrary& library, const std::string& name) {
  if (library.Load(name)) return true;
  if (name.find('/') != std::string::npos) return false;
  const std::string directory = OwnDirectory();
  return !directory.empty() && library.Load(directory + name);
}

void InitializeAPI() {
  HTUINT initState = 0;
  HTGlobalErr = HTAPI._HTInit(HTVERSION_LIBRARY, 0, 0, &initState);
  if (HTGlobalErr != HTSUCCESS) {
    HTInitOK = false;
    return;
  }
  HTInitOK = true;

  // The results of these three calls are deliberately not tested: a session works with the
  // engine's defaults, and a failed read leaves the date order month/day/year (0).
  const HTUINT strictBind = 0;
  HTAPI.HTSetProperty(HTSESSION_STRICT_BIND, &strictBind);
  char localServer[16] = "Local";
  HTAPI.HTSetProperty(HTSESSION_LOCAL_SERVER_NAME, localServer);
  HTINTERNATIONAL settings{};
  HTAPI.HTGetInternational(&settings);
  HTDateFormat = static_cast<int32_t>(settings.dateOrder);
}

void LoadCoreLibrary(LoaderState& state) {
  state.nnotes = std::make_unique<rtl::DynamicLibrary>();
  if (!LoadLibrary(*state.nnotes, state.nnotesName)) return;  // silent: only mail signing needs it
  Resolve(*state.nnotes, "NSFNoteSign", HTAPI.NSFNoteSign);
  Resolve(*state.nnotes, "OSLoadString", HTAPI.OSLoadString);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer the libraries stay mapped at exit: unloading them would hide the
// roots of their static data from the leak checker, which then reports every engine static
// as leaked, and would leave its reports without function names.
constexpr bool kUnloadAtExit = false;
#else
constexpr bool kUnloadAtExit = true;
#endif

void Shutdown() {
  LoaderState& state = State();
  if (state.shutDown) return;
  state.shutDown = true;
  if (HTInitOK) HTAPI.HTTerm(kTermFlags);
  // Objects destroyed after this point (statics of the host) may still call through the
  // table; they must meet fallbacks, not addresses inside an unloaded library.
  HTAPI = kFallbackTable;
  HTInitOK = false;
  DLLLoaded = false;
  if (!kUnloadAtExit) return;
  state.nthtapi.reset();
  state.nnotes.reset();
}

void LoadAPI(LoaderState& state) {
  state.nthtapi = std::make_unique<rtl::DynamicLibrary>();
  if (LoadLibrary(*state.nthtapi, state.nthtapiName)) {
    DLLLoaded = true;
    ResolveEntryPoints(*state.nthtapi);
    InitializeAPI();
  } else {
    state.nthtapi.reset();
    rtl::ShowMessageBox(kLoadErrorText, kLoadErrorCaption, rtl::kMbOk);
  }
  LoadCoreLibrary(state);
  TranslateOn = false;
  // Registered after the libraries are loaded, so that it runs before the exit-time
  // destructors they registered while loading: HTTerm must reach a live engine.
  std::atexit(Shutdown);
}

// ---- Translation ------------------------------------------------------------------------

constexpr size_t kLargeText = 32000;
constexpr size_t kLargeTextMargin = 1000;
// No character set conversion between native text and LMBCS grows a text by more than
// three bytes per byte; an out-length beyond this is not a size worth allocating.
constexpr size_t kMaxGrowth = 4;
// Lengths travel as 32-bit values and the buffer size is derived from them.
constexpr size_t kMaxTranslatable = 0x3FFFFFFF;

HTUINT TranslateBufferSize(size_t length) {
  return static_cast<HTUINT>(length < kLargeText ? 2 * length : length + kLargeTextMargin);
}

void Translate(HTINT mode, const char* source, std::string& dest) {
  if (source == nullptr) source = "";
  if (!TranslateOn) {
    dest = source;
    return;
  }
  const size_t length = std::strlen(source);
  if (length == 0 || length > kMaxTranslatable) {
    dest = source;  // empty stays empty; a text too long to describe is left as it is
    return;
  }
  HTUINT capacity = TranslateBufferSize(length);
  std::string buffer(capacity, '\0');
  HTUINT outLength = 0;
  HTSTATUS status = HTAPI.HTTranslate(mode, static_cast<HTUINT>(length), source, capacity,
                                      buffer.data(), &outLength);
  // A buffer too small cuts the text; when the engine says how much it needs, translate
  // once more into a buffer of that size rather than lose the tail.
  if (status == HTFAIL_BUFFER_TOO_SMALL && outLength >= capacity && outLength <= kMaxGrowth * length) {
    capacity = outLength + 1;
    buffer.assign(capacity, '\0');
    status = HTAPI.HTTranslate(mode, static_cast<HTUINT>(length), source, capacity, buffer.data(),
                               &outLength);
  }
  if (status != HTSUCCESS && status != HTFAIL_BUFFER_TOO_SMALL) {
    dest = source;  // nothing was translated: the source is the best text there is
    return;
  }
  // Whatever the engine did, the text ends within the buffer (it was zero-filled).
  dest.assign(buffer.data(), strnlen(buffer.data(), capacity - 1));
}

// ---- UNID text --------------------------------------------------------------------------

constexpr size_t kUNIDTextLength = 32;
constexpr size_t kGroupLength = 8;
// The text shows the words as W1 W0 W3 W2: each pair of the identifier low word last.
constexpr int kWordOfGroup[4] = {1, 0, 3, 2};

uint32_t ParseHexGroup(std::string_view group) {
  uint32_t value = 0;
  for (const char c : group) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      throw rtl::EConvertError::InvalidInteger(group);
    }
    value = (value << 4) | digit;
  }
  return value;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

// ---- Public state -----------------------------------------------------------------------

THTAPITable HTAPI = kFallbackTable;
bool DLLLoaded = false;
bool HTInitOK = false;
bool TranslateOn = false;
uint32_t HTGlobalErr = 0;
int32_t HTDateFormat = 0;

bool HTSlotIsEmpty(const char* slot) {
  if (slot == nullptr) return true;
#define HT_ENTRY(name, exportName, ret, params, args) \
  if (std::strcmp(slot, #name) == 0) return HTAPI.name == kFallbackTable.name;
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
  if (std::strcmp(slot, "NSFNoteSign") == 0) return HTAPI.NSFNoteSign == kFallbackTable.NSFNoteSign;
  if (std::strcmp(slot, "OSLoadString") == 0) return HTAPI.OSLoadString == kFallbackTable.OSLoadString;
  return true;  // no such slot: there is nothing to call
}

extern "C" void Initialize() {
  LoaderState& state = State();
  ++state.initCount;
  if (state.loaded) return;
  state.loaded = true;
  LoadAPI(state);
}

extern "C" void Finalize() {
  LoaderState& state = State();
  if (state.initCount > 0) --state.initCount;
}

void SetAPILibraryNames(const std::string& nthtapi, const std::string& nnotes) {
  LoaderState& state = State();
  state.nthtapiName = nthtapi;
  state.nnotesName = nnotes;
}

void Translate_To_Native(const char* source, std::string& dest) {
  Translate(HTTRANSLATE_LMBCS_TO_NATIVE, source, dest);
}

void Translate_From_Native(const char* source, std::string& dest) {
  Translate(HTTRANSLATE_NATIVE_TO_LMBCS, source, dest);
}

UNID StrToUNID(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  UNID unid{};
  if (last - first != kUNIDTextLength) return unid;
  const std::string_view digits(text.data() + first, kUNIDTextLength);
  for (size_t group = 0; group < 4; ++group) {
    unid.words[kWordOfGroup[group]] = ParseHexGroup(digits.substr(group * kGroupLength, kGroupLength));
  }
  return unid;
}

std::string UNIDToStr(const UNID& unid) {
  char text[kUNIDTextLength + 1];
  std::snprintf(text, sizeof text, "%08" PRIX32 "%08" PRIX32 "%08" PRIX32 "%08" PRIX32,
                unid.words[kWordOfGroup[0]], unid.words[kWordOfGroup[1]],
                unid.words[kWordOfGroup[2]], unid.words[kWordOfGroup[3]]);
  return text;
}

std::string GetNotesErrorText(uint32_t code) {
  HTINT severity = 0;
  char text[HT_ERROR_TEXT_CAPACITY] = {};
  if (HTAPI.HTErrorGetInfo(code, &severity, text) == 0) return {};
  return std::string(text, strnlen(text, sizeof text - 1));
}
