#include "engine/core/Lmbcs.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/core/ThreadState.h"

namespace quire::engine::lmbcs {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

UConverter* openConverter() {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* conv = ucnv_open("LMBCS-1", &status);
  if (U_FAILURE(status)) raise(HTFAIL_INTERNAL, std::string("LMBCS converter unavailable: ") + u_errorName(status));
  return conv;
}

// The thread's converter, kept between calls; once the thread is ending (an exit handler
// translating) a converter of the call's own, held in `own`.
UConverter* converter(ConverterPtr& own) {
  ConverterPtr* kept = threadState<ConverterPtr>();
  ConverterPtr& conv = kept ? *kept : own;
  if (!conv) conv.reset(openConverter());
  ucnv_reset(conv.get());
  return conv.get();
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out(utf8.size() + 1, u'\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), int32_t(out.size()), &len, utf8.data(), int32_t(utf8.size()), 0xFFFD, nullptr,
                       &status);
  if (U_FAILURE(status)) raise(HTFAIL_INTERNAL, std::string("UTF-8 conversion failed: ") + u_errorName(status));
  out.resize(size_t(len));
  return out;
}

std::string utf16ToUtf8(std::u16string_view u16) {
  std::string out(u16.size() * 3 + 1, '\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), int32_t(out.size()), &len, u16.data(), int32_t(u16.size()), 0xFFFD, nullptr,
                     &status);
  if (U_FAILURE(status)) raise(HTFAIL_INTERNAL, std::string("UTF-8 conversion failed: ") + u_errorName(status));
  out.resize(size_t(len));
  return out;
}

// LMBCS bytes of `u16` with, for every output byte, the index of the UTF-16 unit it came
// from: a cut may then fall only where that index changes.
std::string utf16ToLmbcs(std::u16string_view u16, std::vector<int32_t>* offsets) {
  ConverterPtr own;
  UConverter* conv = converter(own);
  // LMBCS needs at most 3 bytes per UTF-16 unit (group byte plus two); 4 leaves room.
  std::string out(u16.size() * 4 + 8, '\0');
  if (offsets) offsets->assign(out.size(), -1);
  char* target = out.data();
  const UChar* source = u16.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_fromUnicode(conv, &target, out.data() + out.size(), &source, u16.data() + u16.size(),
                   offsets ? offsets->data() : nullptr, true, &status);
  if (U_FAILURE(status)) raise(HTFAIL_INTERNAL, std::string("LMBCS conversion failed: ") + u_errorName(status));
  out.resize(size_t(target - out.data()));
  if (offsets) offsets->resize(out.size());
  return out;
}

std::u16string lmbcsToUtf16(std::string_view lmbcs) {
  ConverterPtr own;
  UConverter* conv = converter(own);
  std::u16string out(lmbcs.size() * 2 + 2, u'\0');
  UChar* target = out.data();
  const char* source = lmbcs.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_toUnicode(conv, &target, out.data() + out.size(), &source, lmbcs.data() + lmbcs.size(), nullptr, true,
                 &status);
  if (U_FAILURE(status)) raise(HTFAIL_INTERNAL, std::string("LMBCS conversion failed: ") + u_errorName(status));
  out.resize(size_t(target - out.data()));
  return out;
}

}  // namespace

std::string fromUtf8(std::string_view utf8) { return utf16ToLmbcs(utf8ToUtf16(utf8), nullptr); }

std::string toUtf8(std::string_view lmbcs) { return utf16ToUtf8(lmbcsToUtf16(lmbcs)); }

size_t translate(bool toLmbcs, std::string_view source, char* buffer, size_t capacity, size_t* needed) {
  if (needed) *needed = 0;
  if (!buffer || capacity == 0) return 0;
  std::string out;
  size_t limit = capacity - 1;
  if (toLmbcs) {
    std::vector<int32_t> offsets;
    out = utf16ToLmbcs(utf8ToUtf16(source), &offsets);
    if (out.size() > limit) {
      // Back up to the first byte of the character that would be cut.
      while (limit > 0 && offsets[limit] == offsets[limit - 1]) --limit;
    }
  } else {
    out = toUtf8(source);
    limit = utf8Boundary(out, limit);
  }
  size_t n = std::min(out.size(), limit);
  if (needed) *needed = out.size();
  std::memcpy(buffer, out.data(), n);
  buffer[n] = '\0';
  return n;
}

}  // namespace quire::engine::lmbcs
