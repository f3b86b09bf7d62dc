// The few items a view build reads from every document, found in one walk over the note's
// stored record and read in place.
//
// A build evaluates the same selection and columns for every document; answering each field
// reference with its own walk over the record, and each value with a freshly built formula
// value, cost more than the rest of the build. RecordFields is told the item names once
// (add), then bound to one record after another (bind); its answers are views into that
// record, valid until the next bind and only while the record's bytes stay put.
//
// Every reading here is the one index::NoteContext::decode gives the evaluator: an absent,
// encrypted or malformed item reads as the empty text, a text or formula item as its text,
// a number as its number, lists element by element. Where that reading needs work this
// class does not do (rich text, date-time columns), it says so and the caller takes the
// general path for that document.
//
// Names are matched as item names are (case ignored), and only ASCII names are accepted:
// the caller binds only records whose item names are all ASCII (otherwise case folding
// could match names of another length). The first item of a name counts, as in
// store::findItem. Not thread-safe; one per build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/FastSelect.h"
#include "engine/store/Items.h"

namespace quire::engine::view {

class RecordFields {
 public:
  // The slot of `name` (an existing slot when the name is already known); -1 for a name that
  // is not ASCII.
  int add(std::string_view name);
  size_t size() const { return names_.size(); }

  // Finds every slot's item in `record`; false for a malformed record.
  bool bind(std::string_view record);

  // What a walk over every item of a record meets besides the slots.
  struct Traits {
    uint32_t flags = 0;  // OR of every item's flags
    bool asciiNames = true;  // every item name is ASCII
    bool sealed = false;  // an item named $Seal
  };
  // bind, walking on to the end of the record to fill `traits`, so a caller that needs both
  // walks the record once. The slots may be read only when traits.asciiNames.
  bool bindWhole(std::string_view record, Traits& traits);

  // A single value read in place: what a column gets when its item is a text, a number or
  // absent. False when the item needs the general reading.
  struct Scalar {
    bool isText = true;
    std::string_view text;
    double number = 0;
  };
  bool scalar(size_t slot, Scalar& out) const;

  // The values of `slots` as FastSelect operands, in that order; false when one of them
  // needs the general reading. The operands stay valid until the next call or bind.
  bool operands(const std::vector<size_t>& slots, std::vector<index::FastSelect::Operand>& out);

 private:
  // Binds `item` to the first unbound slot of the same name; true when one took it.
  bool take(const store::ItemRef& item);
  std::vector<std::string> names_;  // folded to lower case
  std::vector<store::ItemRef> items_;
  std::vector<uint8_t> found_;
  // Element storage behind the operands.
  std::vector<std::string_view> texts_;
  std::vector<double> numbers_;
};

}  // namespace quire::engine::view
