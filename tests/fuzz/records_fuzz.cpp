// Bytes read back from a damaged file reach these decoders before anything else looks at
// them: a note's item record with the values inside it, and a view entry's sort key and
// cells. Any bytes must decode to values or to a refusal, never read past their end, and a
// record that decodes must encode back to the bytes it was read from, so a damaged record
// cannot pass for a different, well-formed one on its next save.
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "engine/doc/Composite.h"
#include "engine/doc/Values.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/Items.h"
#include "engine/view/EntryCodec.h"

namespace store = quire::engine::store;
namespace codec = quire::engine::store::codec;
namespace doc = quire::engine::doc;
namespace view = quire::engine::view;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool prefixOf(const store::Blob& encoded, const uint8_t* data, size_t size) {
  return encoded.size() <= size && std::equal(encoded.begin(), encoded.end(), data);
}

// Each decoder is strict about its value's length, so a value it accepts re-encodes exactly.
void checkValue(const store::StoredItem& item) {
  switch (item.type) {
    case HTTYPE_NUMBER: {
      double d;
      if (codec::decodeNumber(item.value, d)) require(item.value.size() == 8);
      break;
    }
    case HTTYPE_TEXT_LIST: {
      std::vector<std::string> texts;
      if (codec::decodeTextList(item.value, texts)) {
        require(codec::encodeTextList(texts) == item.value);
        // The in-place walk the HTTextList* calls make must agree with the decoder.
        require(codec::textListCount(item.value.data()) == texts.size());
        for (uint32_t k = 0; k < texts.size(); ++k) {
          const char* text = nullptr;
          uint32_t length = 0;
          require(codec::textListEntry(item.value.data(), k, text, length));
          require(std::string_view(text, length) == texts[k]);
        }
      }
      break;
    }
    case HTTYPE_NUMBER_LIST: {
      std::vector<double> numbers;
      if (codec::decodeNumberList(item.value, numbers)) require(codec::encodeNumberList(numbers) == item.value);
      break;
    }
    case HTTYPE_DATETIME_LIST: {
      std::vector<HTDATETIME> dates;
      if (codec::decodeDateTimeList(item.value, dates)) require(codec::encodeDateTimeList(dates) == item.value);
      break;
    }
    case HTTYPE_COMPOSITE: {
      doc::Composite composite;
      if (doc::Composite::decode(item.value, composite)) {
        require(composite.encode() == item.value);
        (void)composite.plainText();
      }
      break;
    }
    default:
      break;
  }
  // What HTItemFetch does with the value: its own form, and as text. A malformed value is
  // refused with an error, never read by its type's layout.
  HTINTERNATIONAL intl{};
  intl.dateOrder = HTDATEORDER_MDY;
  for (HTINT to : {HTINT(0), HTINT(HTTYPE_TEXT), HTINT(HTTYPE_TEXT_LIST), HTINT(HTTYPE_NUMBER)}) {
    try {
      (void)doc::convert(item, to, intl);
    } catch (const std::exception&) {
    }
  }
}

void checkItemRecord(const uint8_t* data, size_t size) {
  std::vector<store::StoredItem> items;
  const bool whole = store::decodeItems(data, size, items);
  if (!whole) return;
  // Trailing bytes after the counted items are not part of the record.
  if (!items.empty()) require(prefixOf(store::encodeItems(items), data, size));
  for (const store::StoredItem& item : items) {
    store::ItemRef found;
    require(store::findItem(data, size, item.name, found));
    checkValue(item);
  }
}

void checkEntry(std::string_view bytes) {
  // As a sort key: components never run past the key and account for a prefix of it.
  size_t covered = 0;
  for (std::string_view component : view::splitKey(bytes)) {
    require(component.data() == bytes.data() + covered);
    covered += component.size();
  }
  require(covered <= bytes.size());

  // As cells: every column reads as a value or as empty.
  for (size_t column = 0; column < 6; ++column) {
    const quire::formula::Value value = view::decodeCell(bytes, column);
    (void)view::renderValue(value);
    (void)view::cellNumberSum(bytes, column);
    view::CellRef cell;
    if (!view::findCell(bytes, column, cell)) continue;
    require(cell.body.data() >= bytes.data() && cell.body.data() + cell.body.size() <= bytes.data() + bytes.size());
    std::string text;
    (void)view::appendCellText(text, cell);
    std::string_view first;
    if (cell.type == 0) (void)view::cellFirstText(cell, first);
    if (cell.type == 1) (void)view::cellNumber(cell);
    if (cell.type == 2) (void)view::cellDateTime(cell);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkItemRecord(data, size);
  checkEntry(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
