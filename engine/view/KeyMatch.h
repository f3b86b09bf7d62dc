// Key search over a snapshot's main documents (HTIndexKeySearch).
//
// Each key is turned into the sort-key component(s) it may equal: a number or date-time key
// into that component; a text key into a text component and, where the column holds numbers
// or date-times and the text reads as one (international settings for dates), into those
// too. Exact search then is a binary search for the concatenated components as a prefix of
// the entries' keys. A partial (leading-text) search uses, for a text key, the collation
// key's primary weights as the prefix and checks the leading characters of each candidate's
// value with the collation (letter case ignored); keys after a partial one are checked
// component by component.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/formula/Value.h"
#include "engine/view/ViewSnapshot.h"
#include "hitest/hitest.h"

namespace quire::engine::view {

struct KeyValue {
  HTINT type = HTTYPE_TEXT;  // HTTYPE_TEXT, HTTYPE_NUMBER or HTTYPE_DATETIME
  std::string text;
  double number = 0;
  formula::DateTime dateTime;
};

// Reads a key descriptor's value; HTFAIL_INVALID_ARGUMENT for a missing value or another type.
HTSTATUS readKey(const HTKEYDESC& key, KeyValue& out);

// Text as a number ("12", "-1.5e3", surrounding blanks allowed); false otherwise.
bool parseNumber(std::string_view text, double& out);
// Text as a date, optionally with a time ("03/14/2024", "14.03.2024 10:30", "2024-03-14"),
// the day/month order taken from the international settings; false otherwise.
bool parseDateTime(std::string_view text, formula::DateTime& out);

class KeyMatcher {
 public:
  KeyMatcher(const ViewSnapshot& snapshot, const std::vector<KeyValue>& keys, bool partial);

  // Calls `visit(mainIndex, row)` for each main document row that matches, where mainIndex
  // is its place among ViewSnapshot::mainRow() (lower is earlier in the view).
  void forEachMatch(const std::function<void(size_t, uint32_t)>& visit) const;

 private:
  struct Part {
    std::string bytes;
    bool partial = false;
    std::string text;  // the key text of a partial part
    size_t column = 0;
  };
  void matchCombination(const std::vector<Part>& parts, const std::function<void(size_t, uint32_t)>& visit) const;
  bool leadingText(uint32_t row, size_t column, const std::string& prefix) const;

  const ViewSnapshot& snap_;
  std::vector<std::vector<Part>> combinations_;
};

}  // namespace quire::engine::view
