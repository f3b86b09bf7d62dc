// The list protocol of the C API (HTLIST modes) over a snapshot of records.
//
// HTLIST_FIRST and HTLIST_REFRESH (re)load the snapshot and give its first record; NEXT and
// PREVIOUS move; LAST reloads and gives the last; CURRENT repeats the current one. Moving
// past either end, or any record of an empty list, gives HTFAIL_END_OF_LIST. NEXT on a
// cursor that was never started starts it. A cursor lives in whatever owns the list: the
// database handle for its ACL or design lists, a thread_local for process-wide lists.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/core/Status.h"
#include "hitest/hitest.h"

namespace quire::engine {

template <typename T>
class ListCursor {
 public:
  // `load` returns the records (std::vector<T>); it runs only when the mode needs a snapshot.
  template <typename Load>
  HTSTATUS step(HTINT mode, Load&& load, T& out) {
    switch (mode) {
      case HTLIST_FIRST:
      case HTLIST_REFRESH:
        reload(load);
        pos_ = 0;
        break;
      case HTLIST_LAST:
        reload(load);
        pos_ = items_.empty() ? 0 : items_.size() - 1;
        break;
      case HTLIST_NEXT:
        if (!started_) {
          reload(load);
          pos_ = 0;
        } else if (pos_ < items_.size()) {
          ++pos_;
        }
        break;
      case HTLIST_PREVIOUS:
        if (!started_ || pos_ == 0 || pos_ > items_.size()) return endOfList();
        --pos_;
        break;
      case HTLIST_CURRENT:
        if (!started_) return endOfList();
        break;
      default:
        return fail(HTFAIL_INVALID_ARGUMENT, "Unknown list mode " + std::to_string(mode));
    }
    if (pos_ >= items_.size()) return endOfList();
    out = items_[pos_];
    return HTSUCCESS;
  }

  void clear() {
    items_.clear();
    started_ = false;
    pos_ = 0;
  }

 private:
  template <typename Load>
  void reload(Load& load) {
    items_ = load();
    started_ = true;
  }
  static HTSTATUS endOfList() { return fail(HTFAIL_END_OF_LIST); }

  std::vector<T> items_;
  size_t pos_ = 0;
  bool started_ = false;
};

}  // namespace quire::engine
