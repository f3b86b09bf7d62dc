// TStringList: an ordered list of UTF-8 strings, each with an attached object
// pointer. Look-up by text (IndexOf) ignores letter case by Unicode case
// folding, so "Body" finds "body" and "ÄRGER" finds "ärger"; entries are never
// sorted and duplicates stay, IndexOf answering the first.
//
// Ownership: by default the list only stores the pointers. A list made with a
// deleter (TStringList::Owning<T>() or the deleter constructor) owns them:
// Delete, Clear, SetObjects (for the object it replaces) and the destructor
// free them through the deleter. Because two owners would free one object
// twice, the list cannot be copied; Assign copies into a non-owning list only.
// Moving is allowed and transfers ownership.
//
// Indices are 0-based; an index outside 0..Count()-1 (Count() for Insert)
// throws EListError. Not thread-safe: one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtl/Export.h"

namespace rtl {

class QUIRE_API TStringList {
 public:
  using ObjectDeleter = void (*)(void*);

  TStringList() = default;
  // An owning list that frees each non-null object with `deleter`.
  explicit TStringList(ObjectDeleter deleter);
  // An owning list for objects of type T, freed with `delete`.
  template <class T>
  static TStringList Owning() {
    return TStringList([](void* object) { delete static_cast<T*>(object); });
  }

  ~TStringList();
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  TStringList(TStringList&& other) noexcept;
  TStringList& operator=(TStringList&& other) noexcept;

  // Append; the result is the new entry's index.
  int Add(std::string_view text);
  int AddObject(std::string_view text, void* object);
  // Room for `count` entries in all, so a list filled from a known count grows once;
  // nothing changes for a count of 0 or less.
  void Reserve(int count);
  void Insert(int index, std::string_view text);
  void InsertObject(int index, std::string_view text, void* object);
  // Remove one entry, freeing its object when the list owns objects.
  void Delete(int index);
  void Clear();

  int Count() const noexcept { return static_cast<int>(entries_.size()); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string_view text);
  void* Objects(int index) const;
  template <class T>
  T* ObjectAs(int index) const {
    return static_cast<T*>(Objects(index));
  }
  // Replaces the attached object; an owning list frees the one it replaces.
  void SetObjects(int index, void* object);

  // First entry equal to `text` ignoring letter case, or -1.
  int IndexOf(std::string_view text) const;
  // First entry holding `object` (compared as a pointer, never dereferenced), or -1.
  int IndexOfObject(const void* object) const;

  // Replace the contents by copies of source's strings and object pointers.
  // Throws std::logic_error when this list owns objects (they would end up with
  // two owners); the source may own or not.
  void Assign(const TStringList& source);

  bool OwnsObjects() const noexcept { return ownsObjects_; }
  // Switching ownership on needs a deleter; without one it throws std::logic_error.
  void SetOwnsObjects(bool value);

 private:
  struct Entry {
    std::string text;
    std::string key;  // case-folded text, compared by IndexOf
    void* object;
  };

  void CheckIndex(int index) const;
  void FreeObject(void* object) const;

  std::vector<Entry> entries_;
  ObjectDeleter deleter_ = nullptr;
  bool ownsObjects_ = false;
};

}  // namespace rtl
