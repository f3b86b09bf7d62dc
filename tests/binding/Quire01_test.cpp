// The loader: its three outcomes, the entry-point table, Initialize/Finalize and shutdown.
#include "binding/Quire01.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rtl/DynamicLibrary.h"
#include "rtl/MessageBox.h"
#include "tests/binding/FakeApi.h"
#include "tests/binding/LoaderFixture.h"

namespace {

const std::vector<std::string> kSlotNames = {
#define HT_ENTRY(slot, exportName, ret, params, args) #slot,
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
};

const std::vector<std::string> kExportNames = {
#define HT_ENTRY(slot, exportName, ret, params, args) #exportName,
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY
};

int EmptySlotCount() {
  int count = 0;
  for (const std::string& slot : kSlotNames) count += HTSlotIsEmpty(slot.c_str()) ? 1 : 0;
  return count;
}

struct MessageBoxCall {
  std::string text;
  std::string caption;
  unsigned flags;
};

// Records every message box instead of showing it.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder()
      : scope_([this](const std::string& text, const std::string& caption, unsigned flags) {
          calls.push_back({text, caption, flags});
          return rtl::kIdOk;
        }) {}
  std::vector<MessageBoxCall> calls;

 private:
  rtl::ScopedMessageBoxHandler scope_;
};

// Passes every call to the POSIX loader and remembers the names looked up.
class RecordingLoader final : public rtl::LibraryLoader {
 public:
  void* Open(const std::string& path, std::string* error) override {
    return rtl::PosixLibraryLoader().Open(path, error);
  }
  void* Symbol(void* handle, const std::string& name, std::string* error) override {
    lookups.push_back(name);
    return rtl::PosixLibraryLoader().Symbol(handle, name, error);
  }
  void Close(void* handle) override { rtl::PosixLibraryLoader().Close(handle); }
  std::vector<std::string> lookups;
};

constexpr char kLoadErrorText[] = "Error Loading DLL :(NTHTAPI.DLL)\r\nFile Not Found or Notes client Dlls not Found";

// ---- The table before any loading (this process never loads) ----------------------------

TEST(EntryPointTable, EveryEmptySlotAnswersAsAnAbsentEntryPoint) {
  ASSERT_EQ(kSlotNames.size(), size_t{HT_ENTRY_POINT_COUNT});
  EXPECT_EQ(EmptySlotCount(), HT_ENTRY_POINT_COUNT);
  EXPECT_TRUE(HTSlotIsEmpty("NSFNoteSign"));
  EXPECT_TRUE(HTSlotIsEmpty("no such slot"));
  EXPECT_TRUE(HTSlotIsEmpty(nullptr));

  HTDBHANDLE db = 77;
  EXPECT_EQ(HTAPI.HTDatabaseOpen("", "names.nsf", 0, &db), HTFAIL_NOT_IMPLEMENTED);
  EXPECT_EQ(db, 77u);
  EXPECT_EQ(HTAPI._HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTFAIL_NOT_IMPLEMENTED);
  EXPECT_EQ(HTAPI.NSFNoteSign(1), HTFAIL_NOT_IMPLEMENTED);
  char text[8] = "garbage";
  EXPECT_EQ(HTAPI.OSLoadString(0, 1, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
}

TEST(EntryPointTable, EmptyCountIdentifierAndBooleanSlotsAnswerZero) {
  // HTUINT is the same C type as HTSTATUS; these must not answer a failure code as a count.
  EXPECT_EQ(HTAPI.HTFieldGetCount(1, 1), 0u);
  EXPECT_EQ(HTAPI.HTColumnGetCount(1, 1), 0u);
  EXPECT_EQ(HTAPI.HTIndexGetCount(1), 0u);
  EXPECT_EQ(HTAPI.HTIndexGetPosition(1), 0u);
  EXPECT_EQ(HTAPI.HTItemGetCount(1), 0u);
  EXPECT_EQ(HTAPI.HTCDRecordGetCount(1), 0u);
  EXPECT_EQ(HTAPI.HTTextListGetCount(nullptr), 0u);
  EXPECT_EQ(HTAPI.HTTextListGetLength(nullptr, 1), 0u);
  char buffer[4] = {};
  EXPECT_EQ(HTAPI.HTTextListFetch(nullptr, 1, sizeof buffer, buffer), 0u);

  EXPECT_EQ(HTAPI.HTViewLocateByName(1, "All"), 0u);
  EXPECT_EQ(HTAPI.HTFolderLocateByName(1, "Mine"), 0u);
  EXPECT_EQ(HTAPI.HTFormLocateByName(1, "Memo"), 0u);
  EXPECT_EQ(HTAPI.HTAgentLocateByName(1, "Tidy"), 0u);
  const UNID unid{};
  EXPECT_EQ(HTAPI.HTDocumentLocateByUnid(1, &unid), 0u);

  HTINT severity = 0;
  char message[HT_ERROR_TEXT_CAPACITY] = {};
  EXPECT_EQ(HTAPI.HTErrorGetInfo(HTFAIL_END_OF_LIST, &severity, message), 0);
  EXPECT_EQ(HTAPI.HTACLGetRole(nullptr, 1), 0);
}

TEST(EntryPointTable, ErrorTextIsEmptyWithoutTheLibrary) { EXPECT_EQ(GetNotesErrorText(HTFAIL_END_OF_LIST), ""); }

// ---- The three outcomes of loading --------------------------------------------------------

using LoaderTest = FakeApiTest;

TEST_F(LoaderTest, MissingAPILibraryShowsOneMessageBoxAndLeavesTheTableEmpty) {
  const int code = RunInChild([&] {
    UseFakes();
    SetAPILibraryNames(dir_ + "/libnthtapi.so", QR_FAKE_NNOTES);
    MessageBoxRecorder boxes;
    Initialize();
    Initialize();

    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, kLoadErrorText);
    EXPECT_EQ(boxes.calls[0].caption, "Error");
    EXPECT_EQ(boxes.calls[0].flags, rtl::kMbOk);
    EXPECT_FALSE(DLLLoaded);
    EXPECT_FALSE(HTInitOK);
    EXPECT_EQ(HTGlobalErr, 0u);
    EXPECT_FALSE(TranslateOn);
    EXPECT_EQ(EmptySlotCount(), HT_ENTRY_POINT_COUNT);
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTAPI.HTDatabaseOpen("", "names.nsf", 0, &db), HTFAIL_NOT_IMPLEMENTED);
    // The core library is loaded whatever became of the API library.
    EXPECT_FALSE(HTSlotIsEmpty("NSFNoteSign"));
    EXPECT_EQ(HTAPI.NSFNoteSign(1), kFakeNoteSignResult);
    // The rest of the library works without the API.
    EXPECT_EQ(UNIDToStr(StrToUNID("0000000100000002000000030000000A")), "0000000100000002000000030000000A");
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(LoaderTest, MissingCoreLibraryIsSilent) {
  const int code = RunInChild([&] {
    UseFakes();
    SetAPILibraryNames(QR_FAKE_NTHTAPI, dir_ + "/libnnotes.so");
    MessageBoxRecorder boxes;
    Initialize();
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_TRUE(HTInitOK);
    EXPECT_TRUE(HTSlotIsEmpty("NSFNoteSign"));
    EXPECT_TRUE(HTSlotIsEmpty("OSLoadString"));
    EXPECT_EQ(HTAPI.NSFNoteSign(1), HTFAIL_NOT_IMPLEMENTED);
  });
  EXPECT_EQ(code, 0);
}

TEST_F(LoaderTest, FailedInitKeepsItsCodeAndIsNeverTerminated) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_INIT_RESULT", "0x80002005"}});
    MessageBoxRecorder boxes;
    Initialize();
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_TRUE(DLLLoaded);
    EXPECT_FALSE(HTInitOK);
    EXPECT_EQ(HTGlobalErr, 0x80002005u);
    EXPECT_FALSE(TranslateOn);
    EXPECT_FALSE(HTSlotIsEmpty("HTTerm"));
    EXPECT_EQ(HTDateFormat, 0);
  });
  EXPECT_EQ(code, 0);
  // No session defaults, no settings read, and no HTTerm when the child exited.
  EXPECT_EQ(Calls(), std::vector<std::string>{"_HTInit 282624 0 0 0"});
}

// Runs after the loader's exit handler (registered later, so called earlier) and logs
// what later exit-time code would meet in the table.
std::string g_afterShutdownLog;
void LogStateAfterShutdown() {
  FILE* file = std::fopen(g_afterShutdownLog.c_str(), "a");
  if (file == nullptr) return;
  HTDBHANDLE db = 0;
  std::fprintf(file, "after shutdown: empty=%d loaded=%d init=%d reopen=%#x\n", EmptySlotCount(), DLLLoaded,
               HTInitOK, HTAPI.HTDatabaseReOpen(1, 0, &db));
  std::fclose(file);
}

TEST_F(LoaderTest, NormalLoadAppliesSessionDefaultsAndTerminatesAtExit) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_DATE_ORDER", "1"}});
    g_afterShutdownLog = log_;
    std::atexit(LogStateAfterShutdown);
    MessageBoxRecorder boxes;
    Initialize();
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_TRUE(DLLLoaded);
    EXPECT_TRUE(HTInitOK);
    EXPECT_EQ(HTGlobalErr, 0u);
    EXPECT_FALSE(TranslateOn);
    EXPECT_EQ(HTDateFormat, HTDATEORDER_DMY);
    EXPECT_FALSE(HTSlotIsEmpty("HTTranslate"));
    EXPECT_FALSE(HTSlotIsEmpty("NSFNoteSign"));
    EXPECT_TRUE(Calls("HTTerm").empty());
  });
  EXPECT_EQ(code, 0);
  const std::vector<std::string> expected = {
      "_HTInit 282624 0 0 0",
      "HTSetProperty 7 0",
      "HTSetProperty 1 Local",
      "HTGetInternational",
      "HTTerm 8",
      "after shutdown: empty=196 loaded=0 init=0 reopen=0x80002001",
  };
  EXPECT_EQ(Calls(), expected);
}

// ---- The table after loading ------------------------------------------------------------

TEST_F(LoaderTest, RenamedSlotsHoldTheRenamedExports) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    HTDBHANDLE db = 0;
    HTUINT value = 0;
    // The double also exports the slot names, with another result: those must be ignored.
    EXPECT_EQ(HTAPI.HTDatabaseReOpen(1, 0, &db), kFakeReopenResult);
    EXPECT_EQ(HTAPI.HTACLGetProperty(1, HTACL_UNIFORM_ACL, &value), kFakeACLGetResult);
    EXPECT_EQ(HTAPI.HTACLSetProperty(1, HTACL_UNIFORM_ACL, 1), kFakeACLSetResult);
  });
  EXPECT_EQ(code, 0);
}

TEST_F(LoaderTest, MissingExportsKeepTheirFallbacks) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    // The double exports 10 entry points of the list (the renamed three under their export
    // names); every other slot must still hold its fallback.
    EXPECT_EQ(EmptySlotCount(), HT_ENTRY_POINT_COUNT - 10);
    EXPECT_TRUE(HTSlotIsEmpty("HTDatabaseOpen"));
    HTDBHANDLE db = 0;
    EXPECT_EQ(HTAPI.HTDatabaseOpen("", "names.nsf", 0, &db), HTFAIL_NOT_IMPLEMENTED);
    EXPECT_EQ(HTAPI.HTIndexGetCount(1), 0u);
    EXPECT_EQ(HTAPI.HTViewLocateByName(1, "All"), 0u);
  });
  EXPECT_EQ(code, 0);
}

TEST_F(LoaderTest, LooksUpEveryExportOnceInTableOrder) {
  const int code = RunInChild([&] {
    UseFakes();
    auto* loader = new RecordingLoader;  // must outlive the libraries, freed at exit
    rtl::SetDefaultLibraryLoader(loader);
    Initialize();
    ASSERT_EQ(loader->lookups.size(), size_t{HT_ENTRY_POINT_COUNT} + 2);
    const std::vector<std::string> apiLookups(loader->lookups.begin(), loader->lookups.end() - 2);
    EXPECT_EQ(apiLookups, kExportNames);
    EXPECT_EQ(apiLookups.front(), "HTGetAPILibraryVersion");
    EXPECT_EQ(apiLookups[1], "_HTInit");
    EXPECT_EQ(apiLookups[42], "HTDatabaseReopen");
    EXPECT_EQ(apiLookups[59], "HTACLGetACLProperty");
    EXPECT_EQ(apiLookups[60], "HTACLSetACLProperty");
    EXPECT_EQ(apiLookups.back(), "HTDocumentGetNotesHandle");
    EXPECT_EQ(loader->lookups[HT_ENTRY_POINT_COUNT], "NSFNoteSign");
    EXPECT_EQ(loader->lookups[HT_ENTRY_POINT_COUNT + 1], "OSLoadString");
  });
  EXPECT_EQ(code, 0);
}

// ---- Initialize and Finalize ------------------------------------------------------------

TEST_F(LoaderTest, RepeatedInitializeLoadsOnceAndFinalizeReleasesNothing) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    Initialize();
    EXPECT_EQ(Calls("_HTInit").size(), 1u);

    Finalize();
    Finalize();
    Finalize();  // one more than Initialize: harmless
    EXPECT_TRUE(Calls("HTTerm").empty());
    EXPECT_TRUE(HTInitOK);
    EXPECT_NE(dlopen(QR_FAKE_NTHTAPI, RTLD_NOW | RTLD_NOLOAD), nullptr) << "Finalize unloaded the library";
    char version[HT_VERSION_CAPACITY] = {};
    EXPECT_EQ(HTAPI.HTGetAPILibraryVersion(version), HTSUCCESS);
    EXPECT_STREQ(version, "Fake 1.0");

    Initialize();  // loading belongs to the process, not to an Initialize/Finalize pair
    EXPECT_EQ(Calls("_HTInit").size(), 1u);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Calls("HTTerm"), std::vector<std::string>{"HTTerm 8"});
}

// ---- Error text -------------------------------------------------------------------------

TEST_F(LoaderTest, ErrorTextComesFromTheAPIOnlyWhenItHasAMessage) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    EXPECT_EQ(GetNotesErrorText(kFakeKnownCode), "Fake: no such note");
    EXPECT_EQ(GetNotesErrorText(HTFAIL_END_OF_LIST), "");  // the double wrote junk and said no
    // A message filling the whole buffer without a terminator is cut, not overrun.
    EXPECT_EQ(GetNotesErrorText(kFakeLongMessageCode), std::string(HT_ERROR_TEXT_CAPACITY - 1, 'm'));
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
