// What opening a view needs to know of one stored chunk of a built view's base (ViewIndex.h),
// kept beside the chunk so that an open reads a few bytes per chunk instead of every entry.
//
// A summary holds the chunk's entry count, whether any entry has Readers names or a parent,
// which value types occur at each key component, the chunk's first sort key (key searches
// find their chunk without reading the others) and its runs: maximal stretches of entries
// that share every categorised key component, each with its entry count and the sums of the
// view's total columns. Categories, their document counts and totals, and every row's place
// follow from the runs alone; document rows are read from their chunk when first touched.
//
// A summary is written by the build together with its chunk and never changed; it records
// the category levels and total columns it was made for, and `matches` refuses it for any
// other design. Decoding checks every length: a damaged summary decodes as false, never read
// past. Plain values; no thread restrictions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/view/ViewDesign.h"

namespace quire::engine::view {

struct BaseSummary {
  static constexpr uint8_t kHasReaders = 0x01;
  static constexpr uint8_t kHasParents = 0x02;
  // An entry's key has fewer components than the view has category levels.
  static constexpr uint8_t kShortKey = 0x04;

  struct Run {
    uint32_t entries = 0;
    std::vector<std::string> path;  // the categorised key components, one per level
    std::vector<double> sums;       // one per total column
  };

  uint32_t levels = 0;
  std::vector<uint32_t> totalColumns;
  uint32_t entries = 0;
  uint8_t flags = 0;
  std::vector<uint8_t> keyTypes;  // per key component: bit 0 number, 1 date-time, 2 text
  std::string firstKey;
  std::vector<Run> runs;

  bool matches(const CompiledDesign& design) const;
  std::string encode() const;
  static bool decode(std::string_view bytes, BaseSummary& out);
};

// The total columns of a design, in column order.
std::vector<uint32_t> totalColumnsOf(const CompiledDesign& design);

// Which value type the key component `component` holds, as a BaseSummary key-type bit.
uint8_t keyTypeBit(std::string_view component);

// Accumulates the summary of a chunk as its entries are written, in index order.
class BaseSummaryBuilder {
 public:
  explicit BaseSummaryBuilder(const CompiledDesign& design);
  void add(std::string_view key, std::string_view cells, bool hasReaders, bool hasParent);
  // The summary of the entries added since the last take, and starts afresh.
  BaseSummary take();

 private:
  BaseSummary current_;
  size_t keyCount_;
  std::vector<std::string_view> parts_;
};

}  // namespace quire::engine::view
