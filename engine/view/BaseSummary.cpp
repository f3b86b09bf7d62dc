#include "engine/view/BaseSummary.h"

#include <cstring>

#include "engine/view/EntryCodec.h"

namespace quire::engine::view {
namespace {

constexpr uint8_t kSummaryFormat = 1;

void putU32(std::string& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(char(uint8_t(v >> (8 * k))));
}

void putDouble(std::string& out, double d) {
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  for (int k = 0; k < 8; ++k) out.push_back(char(uint8_t(bits >> (8 * k))));
}

void putBytes(std::string& out, std::string_view bytes) {
  putU32(out, uint32_t(bytes.size()));
  out += bytes;
}

// Reads what putU32, putDouble and putBytes wrote; once anything is short, every later read
// fails too.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool atEnd() const { return pos_ == bytes_.size(); }
  uint8_t u8() {
    if (!need(1)) return 0;
    return uint8_t(bytes_[pos_++]);
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t(uint8_t(bytes_[pos_ + size_t(k)])) << (8 * k);
    pos_ += 4;
    return v;
  }
  double f64() {
    if (!need(8)) return 0;
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits |= uint64_t(uint8_t(bytes_[pos_ + size_t(k)])) << (8 * k);
    pos_ += 8;
    double d = 0;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  std::string_view bytes() {
    const uint32_t n = u32();
    if (!need(n)) return {};
    const std::string_view out = bytes_.substr(pos_, n);
    pos_ += n;
    return out;
  }
  // A count of items each at least `itemBytes` long: refused when the rest cannot hold them,
  // so a damaged count never makes a reader reserve memory it will not fill.
  uint32_t count(size_t itemBytes) {
    const uint32_t n = u32();
    if (ok_ && itemBytes && n > (bytes_.size() - pos_) / itemBytes) ok_ = false;
    return ok_ ? n : 0;
  }

 private:
  bool need(size_t n) {
    if (!ok_ || bytes_.size() - pos_ < n) ok_ = false;
    return ok_;
  }
  std::string_view bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

std::vector<uint32_t> totalColumnsOf(const CompiledDesign& design) {
  std::vector<uint32_t> out;
  for (size_t c = 0; c < design.columns.size(); ++c)
    if (design.columns[c].design.total != HTCOLTOTAL_NONE) out.push_back(uint32_t(c));
  return out;
}

uint8_t keyTypeBit(std::string_view component) {
  if (component.empty()) return 0;
  uint8_t tag = uint8_t(component[0]);
  if (tag > 0x7F) tag = uint8_t(~tag);  // a descending component
  switch (tag) {
    case kTagNumber: return 1;
    case kTagDateTime: return 2;
    case kTagText: return 4;
    default: return 0;
  }
}

bool BaseSummary::matches(const CompiledDesign& design) const {
  return levels == design.categoryLevels && totalColumns == totalColumnsOf(design) &&
         keyTypes.size() == design.keyColumns.size();
}

std::string BaseSummary::encode() const {
  std::string out;
  out.push_back(char(kSummaryFormat));
  putU32(out, levels);
  putU32(out, uint32_t(totalColumns.size()));
  for (uint32_t c : totalColumns) putU32(out, c);
  putU32(out, entries);
  out.push_back(char(flags));
  putBytes(out, std::string_view(reinterpret_cast<const char*>(keyTypes.data()), keyTypes.size()));
  putBytes(out, firstKey);
  putU32(out, uint32_t(runs.size()));
  for (const Run& run : runs) {
    putU32(out, run.entries);
    for (const auto& part : run.path) putBytes(out, part);
    for (double sum : run.sums) putDouble(out, sum);
  }
  return out;
}

bool BaseSummary::decode(std::string_view bytes, BaseSummary& out) {
  out = BaseSummary();
  Reader in(bytes);
  if (in.u8() != kSummaryFormat) return false;
  out.levels = in.u32();
  const uint32_t totals = in.count(4);
  for (uint32_t t = 0; t < totals; ++t) out.totalColumns.push_back(in.u32());
  out.entries = in.u32();
  out.flags = in.u8();
  const std::string_view types = in.bytes();
  out.keyTypes.assign(types.begin(), types.end());
  out.firstKey = std::string(in.bytes());
  // Each run is at least its count, a length per level and a sum per total column.
  const uint32_t runs = in.count(4 + size_t(out.levels) * 4 + size_t(totals) * 8);
  if (!in.ok()) return false;
  out.runs.resize(runs);
  uint64_t counted = 0;
  for (Run& run : out.runs) {
    run.entries = in.u32();
    counted += run.entries;
    run.path.reserve(out.levels);
    for (uint32_t l = 0; l < out.levels; ++l) run.path.emplace_back(in.bytes());
    run.sums.reserve(totals);
    for (uint32_t t = 0; t < totals; ++t) run.sums.push_back(in.f64());
    if (!in.ok()) return false;
  }
  return in.ok() && in.atEnd() && counted == out.entries;
}

BaseSummaryBuilder::BaseSummaryBuilder(const CompiledDesign& design) : keyCount_(design.keyColumns.size()) {
  current_.levels = uint32_t(design.categoryLevels);
  current_.totalColumns = totalColumnsOf(design);
  current_.keyTypes.assign(keyCount_, 0);
}

void BaseSummaryBuilder::add(std::string_view key, std::string_view cells, bool hasReaders, bool hasParent) {
  BaseSummary& s = current_;
  splitKey(key, parts_);
  for (size_t k = 0; k < parts_.size() && k < keyCount_; ++k) s.keyTypes[k] |= keyTypeBit(parts_[k]);
  if (hasReaders) s.flags |= BaseSummary::kHasReaders;
  if (hasParent) s.flags |= BaseSummary::kHasParents;
  if (parts_.size() < s.levels) s.flags |= BaseSummary::kShortKey;
  if (s.entries == 0) s.firstKey = std::string(key);
  ++s.entries;
  bool sameRun = !s.runs.empty();
  for (size_t l = 0; sameRun && l < s.levels; ++l)
    sameRun = l < parts_.size() && s.runs.back().path[l] == parts_[l];
  if (!sameRun) {
    BaseSummary::Run run;
    for (size_t l = 0; l < s.levels; ++l) run.path.emplace_back(l < parts_.size() ? parts_[l] : std::string_view());
    run.sums.assign(s.totalColumns.size(), 0);
    s.runs.push_back(std::move(run));
  }
  BaseSummary::Run& run = s.runs.back();
  ++run.entries;
  for (size_t t = 0; t < s.totalColumns.size(); ++t) run.sums[t] += cellNumberSum(cells, s.totalColumns[t]);
}

BaseSummary BaseSummaryBuilder::take() {
  BaseSummary done = std::move(current_);
  current_ = BaseSummary();
  current_.levels = done.levels;
  current_.totalColumns = done.totalColumns;
  current_.keyTypes.assign(keyCount_, 0);
  return done;
}

}  // namespace quire::engine::view
