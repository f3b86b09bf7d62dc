// What libquire.so exports: the public API and nothing of the runtime's or the object
// model's internals. The symbol table is read with nm, as a packager would check it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

// Demangled names of the defined dynamic symbols, without their type letter and address.
std::set<std::string> ExportedSymbols() {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only -C '") + QUIRE_LIBRARY + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe.get())) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const auto space = text.find(' ', text.find(' ') + 1);  // after address and type letter
    if (space != std::string::npos) names.insert(text.substr(space + 1));
  }
  return names;
}

bool AnyStartsWith(const std::set<std::string>& names, const std::string& prefix) {
  for (const auto& name : names) {
    if (name.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

TEST(LibraryExports, PublicEntryPointsLeaveTheLibrary) {
  const auto names = ExportedSymbols();
  ASSERT_FALSE(names.empty()) << "nm could not read " << QUIRE_LIBRARY;
  for (const char* symbol : {"Initialize", "Finalize", "HTAPI", "DLLLoaded", "HTInitOK", "TranslateOn",
                             "TQuireSession::TQuireSession()", "typeinfo for rtl::EConvertError",
                             "typeinfo for TQuireTextListItem", "rtl::SetMessageBoxHandler"}) {
    EXPECT_TRUE(names.count(symbol) || AnyStartsWith(names, symbol)) << symbol << " is not exported";
  }
  EXPECT_TRUE(AnyStartsWith(names, "rtl::TStringList::Add("));
  EXPECT_TRUE(AnyStartsWith(names, "rtl::TryStrToDateTime("));
  EXPECT_TRUE(AnyStartsWith(names, "StrToUNID("));
}

TEST(LibraryExports, InternalsStayInside) {
  const auto names = ExportedSymbols();
  ASSERT_FALSE(names.empty());
  for (const char* internal : {"rtl::DynamicLibrary", "rtl::LibraryLoader", "rtl::SetDefaultLibraryLoader",
                               "rtl::PosixLibraryLoader", "rtl::SharedMemory", "rtl::PosixSharedMemoryApi",
                               "qrbuffer::", "qrroles::", "(anonymous namespace)", "typeinfo for rtl::LibraryLoader"}) {
    for (const auto& name : names) {
      EXPECT_EQ(name.find(internal), std::string::npos) << "exported internal: " << name;
    }
  }
  // Without hidden visibility the library exported about 1800 symbols, most of them
  // instantiations of standard templates; the public API needs well under 600.
  EXPECT_LT(names.size(), 600u);
}

}  // namespace
