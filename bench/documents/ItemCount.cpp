// bench_items: items added to ONE document, to show that the cost of an item does not grow
// with the number already there.
//
//   bench_items [COUNT]
//
// In a fresh temporary data directory (under $TMPDIR, default /tmp), one new document gets
// COUNT text items (default 100000) through the raw C API, one HTItemPut each, with distinct
// names; the time of each quarter of the items is measured on its own. It prints items per
// second per quarter and the ratio of the last quarter's time to the first's: about 1 when
// adding is linear in the item count, about 7 when every put walks the items before it.
// Then it saves the document, reopens it and checks that every item is there.
// Exit status: 0 when the run worked (target met or not), 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "binding/Quire01.h"

namespace {

constexpr double kRatioTarget = 1.5;

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  throw std::runtime_error(code != 0 ? what + ": " + GetNotesErrorText(code) : what);
}

void Check(uint32_t code, const std::string& what) {
  if (code != 0) Fail(what, code);
}

int Run(long count, const std::string& dataDirectory) {
  setenv("QUIRE_DATA", dataDirectory.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  Check(HTAPI.HTDatabaseCreate("", "items.nsf", "Items", "", HTDBCLASS_DATABASE), "cannot create items.nsf");
  HTDBHANDLE db = 0;
  Check(HTAPI.HTDatabaseOpen("", "items.nsf", 0, &db), "cannot open items.nsf");
  HTDOCHANDLE doc = 0;
  Check(HTAPI.HTDocumentCreate(db, 0, &doc), "cannot create a document");

  std::printf("%ld items on one document (HTItemPut, distinct names)\n", count);
  double quarter[4] = {};
  for (int q = 0; q < 4; ++q) {
    const long from = count * q / 4, to = count * (q + 1) / 4;
    const auto start = std::chrono::steady_clock::now();
    for (long n = from; n < to; ++n) {
      const std::string name = "Item" + std::to_string(n);
      const std::string value = "value " + std::to_string(n);
      Check(HTAPI.HTItemPut(doc, name.c_str(), HTTYPE_TEXT, 0, HTTYPE_TEXT, value.c_str(), 0), "cannot put " + name);
    }
    quarter[q] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("items %7ld..%7ld: %10.0f items/s  (%.3f s)\n", from + 1, to, double(to - from) / quarter[q], quarter[q]);
  }
  const auto saveStart = std::chrono::steady_clock::now();
  Check(HTAPI.HTDocumentSave(doc, 0), "cannot save the document");
  const double saved = std::chrono::duration<double>(std::chrono::steady_clock::now() - saveStart).count();
  HTID id = 0;
  Check(HTAPI.HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id), "cannot read the document ID");
  HTAPI.HTDocumentClose(doc, 0);
  std::printf("save: %.3f s\n", saved);

  Check(HTAPI.HTDocumentOpen(db, id, 0, &doc), "cannot reopen the document");
  HTUINT items = 0;
  for (HTITEMLISTREC record{}; HTAPI.HTItemList(doc, items == 0 ? HTLIST_FIRST : HTLIST_NEXT, 0, &record) == 0;) ++items;
  HTAPI.HTDocumentClose(doc, 0);
  HTAPI.HTDatabaseClose(db, 0);
  if (items != HTUINT(count)) Fail("the saved document holds " + std::to_string(items) + " items, not " + std::to_string(count));

  const double ratio = quarter[3] / quarter[0];
  std::printf("ratio (last quarter's time / first quarter's): %.2f  (target <= %.1f: %s)\n", ratio, kRatioTarget,
              ratio <= kRatioTarget ? "met" : "MISSED");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long count = 100000;
  if (argc > 2 || (argc == 2 && (count = std::strtol(argv[1], nullptr, 10)) < 4)) {
    std::fprintf(stderr, "usage: bench_items [COUNT (at least 4)]\n");
    return 2;
  }
  std::string dataDirectory = (std::filesystem::temp_directory_path() / "quire-bench-items-XXXXXX").string();
  if (!mkdtemp(dataDirectory.data())) {
    std::fprintf(stderr, "bench_items: cannot make a temporary directory\n");
    return 1;
  }
  int code = 1;
  try {
    code = Run(count, dataDirectory);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_items: %s\n", error.what());
  }
  std::error_code ignored;
  std::filesystem::remove_all(dataDirectory, ignored);
  return code;
}
