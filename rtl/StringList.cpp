#include "rtl/StringList.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <stdexcept>
#include <utility>

#include "rtl/Errors.h"

namespace rtl {
namespace {

bool IsValidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Unicode case folding maps A-Z to a-z and leaves every other ASCII character alone, so
// ASCII text, the common case for names, folds without ICU.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IcuSized(std::string_view text) { return text.size() <= static_cast<size_t>(INT32_MAX); }

// Text that is not valid UTF-8 would fold to U+FFFD and match unrelated text, so its bytes
// fold as ASCII, tagged with 0xFF, a byte that never occurs in valid UTF-8.
std::string TaggedAsciiKey(std::string_view text) {
  std::string key;
  key.reserve(text.size() + 1);
  key += '\xFF';
  for (char c : text) key += FoldAscii(c);
  return key;
}

std::string IcuKey(std::string_view text) {
  icu::UnicodeString folded =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  std::string key;
  folded.toUTF8String(key);
  return key;
}

// The comparison key of IndexOf, computed once per entry so a look-up folds only the text
// it is given.
std::string FoldKey(std::string_view text) {
  if (!IcuSized(text)) return TaggedAsciiKey(text);
  // One pass folds ASCII text, the common case for names, and gives up at the first byte
  // that is not ASCII, so most keys cost a single copy.
  std::string key(text);
  for (char& c : key) {
    if (static_cast<unsigned char>(c) >= 0x80) return IsValidUtf8(text) ? IcuKey(text) : TaggedAsciiKey(text);
    c = FoldAscii(c);
  }
  return key;
}

// Whether `key` is the key of the ASCII text `text`, compared without building that key.
bool IsAsciiKeyOf(const std::string& key, std::string_view text) {
  if (key.size() != text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (key[i] != FoldAscii(text[i])) return false;
  }
  return true;
}

}  // namespace

TStringList::TStringList(ObjectDeleter deleter) : deleter_(deleter), ownsObjects_(deleter != nullptr) {}

TStringList::~TStringList() { Clear(); }

TStringList::TStringList(TStringList&& other) noexcept
    : entries_(std::move(other.entries_)), deleter_(other.deleter_), ownsObjects_(other.ownsObjects_) {
  other.entries_.clear();
}

TStringList& TStringList::operator=(TStringList&& other) noexcept {
  if (this != &other) {
    Clear();
    entries_ = std::move(other.entries_);
    other.entries_.clear();
    deleter_ = other.deleter_;
    ownsObjects_ = other.ownsObjects_;
  }
  return *this;
}

int TStringList::Add(std::string_view text) { return AddObject(text, nullptr); }

int TStringList::AddObject(std::string_view text, void* object) {
  entries_.emplace_back(Entry{std::string(text), FoldKey(text), object});
  return Count() - 1;
}

void TStringList::Reserve(int count) {
  if (count > 0) entries_.reserve(static_cast<size_t>(count));
}

void TStringList::Insert(int index, std::string_view text) { InsertObject(index, text, nullptr); }

void TStringList::InsertObject(int index, std::string_view text, void* object) {
  if (index != Count()) CheckIndex(index);
  entries_.insert(entries_.begin() + index, Entry{std::string(text), FoldKey(text), object});
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  void* object = entries_[index].object;
  entries_.erase(entries_.begin() + index);
  // Freed after the entry is gone, so a destructor that looks at this list
  // does not find the dying object in it.
  FreeObject(object);
}

void TStringList::Clear() {
  std::vector<Entry> entries = std::move(entries_);
  entries_.clear();
  for (const Entry& entry : entries) FreeObject(entry.object);
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return entries_[index].text;
}

void TStringList::SetStrings(int index, std::string_view text) {
  CheckIndex(index);
  entries_[index].text = std::string(text);
  entries_[index].key = FoldKey(text);
}

void* TStringList::Objects(int index) const {
  CheckIndex(index);
  return entries_[index].object;
}

void TStringList::SetObjects(int index, void* object) {
  CheckIndex(index);
  void* previous = std::exchange(entries_[index].object, object);
  if (previous != object) FreeObject(previous);
}

int TStringList::IndexOf(std::string_view text) const {
  if (IcuSized(text) && IsAscii(text)) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (IsAsciiKeyOf(entries_[i].key, text)) return static_cast<int>(i);
    }
    return -1;
  }
  const std::string key = FoldKey(text);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].key == key) return static_cast<int>(i);
  }
  return -1;
}

int TStringList::IndexOfObject(const void* object) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].object == object) return static_cast<int>(i);
  }
  return -1;
}

void TStringList::Assign(const TStringList& source) {
  if (ownsObjects_) throw std::logic_error("TStringList::Assign into a list that owns its objects");
  if (this == &source) return;
  entries_ = source.entries_;
}

void TStringList::SetOwnsObjects(bool value) {
  if (value && deleter_ == nullptr) throw std::logic_error("TStringList cannot own objects without a deleter");
  ownsObjects_ = value;
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TStringList::FreeObject(void* object) const {
  if (ownsObjects_ && object != nullptr) deleter_(object);
}

}  // namespace rtl
