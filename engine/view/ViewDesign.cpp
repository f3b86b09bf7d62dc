#include "engine/view/ViewDesign.h"

#include <charconv>

#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/store/ItemCodec.h"

namespace quire::engine::view {
namespace {

namespace codec = store::codec;

constexpr const char* kSelection = "$Selection";
constexpr const char* kViewFlags = "$ViewFlags";
constexpr const char* kBackground = "$BackgroundColor";
constexpr const char* kAlternate = "$AlternateColor";
constexpr const char* kColumnCount = "$ColumnCount";
constexpr const char* kColumnPrefix = "$Column";

bool validSort(int32_t sort) {
  return sort == HTCOLSORT_NONE || sort == HTCOLSORT_ASCEND || sort == HTCOLSORT_DESCEND ||
         sort == HTCOLSORT_CAT_ASCEND || sort == HTCOLSORT_CAT_DESCEND;
}

void checkLength(std::string_view text, size_t limit, const std::string& what) {
  if (text.size() > limit)
    raise(HTFAIL_TEXT_TOO_LONG, what + " is " + std::to_string(text.size()) + " bytes long; at most " +
                                    std::to_string(limit) + " are allowed");
}

void checkRange(int32_t value, int32_t low, int32_t high, const std::string& what) {
  if (value < low || value > high)
    raise(HTFAIL_INVALID_ARGUMENT, what + " " + std::to_string(value) + " is not between " + std::to_string(low) +
                                       " and " + std::to_string(high));
}

void checkFormula(std::string_view text, const std::string& what) {
  auto compiled = formula::Formula::compile(text);
  if (!compiled) raise(HTFAIL_FORMULA_SYNTAX, what + ": " + compiled.error().message);
}

const store::StoredItem* findItem(const std::vector<store::StoredItem>& items, std::string_view name) {
  for (const auto& item : items)
    if (equalsNoCase(item.name, name)) return &item;
  return nullptr;
}

std::string textItem(const std::vector<store::StoredItem>& items, std::string_view name) {
  std::string out;
  if (const auto* item = findItem(items, name); item && item->type == HTTYPE_TEXT) codec::decodeText(item->value, out);
  return out;
}

int64_t numberItem(const std::vector<store::StoredItem>& items, std::string_view name, int64_t fallback) {
  double value = 0;
  const auto* item = findItem(items, name);
  if (!item || item->type != HTTYPE_NUMBER || !codec::decodeNumber(item->value, value)) return fallback;
  if (!(value >= -2147483648.0 && value <= 4294967295.0)) return fallback;
  return int64_t(value);
}

store::StoredItem makeText(std::string name, std::string_view text) {
  return {std::move(name), HTTYPE_TEXT, 0, codec::encodeText(text)};
}

store::StoredItem makeNumber(std::string name, double value) {
  return {std::move(name), HTTYPE_NUMBER, 0, codec::encodeNumber(value)};
}

int32_t parseInt(std::string_view text, int32_t fallback) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return fallback;
  return int32_t(value);
}

std::vector<std::string> columnEntries(const ColumnDesign& c) {
  return {"title=" + c.title,
          "item=" + c.itemName,
          "formula=" + c.formula,
          "sort=" + std::to_string(c.sort),
          "total=" + std::to_string(c.total),
          "flags=" + std::to_string(c.flags),
          "width=" + std::to_string(c.width),
          "justify=" + std::to_string(c.justify),
          "headjustify=" + std::to_string(c.headingJustify),
          "face=" + std::to_string(c.fontFace),
          "style=" + std::to_string(c.fontStyle),
          "color=" + std::to_string(c.fontColor),
          "size=" + std::to_string(c.fontSize)};
}

ColumnDesign columnFromEntries(const std::vector<std::string>& entries) {
  ColumnDesign c;
  for (const std::string& entry : entries) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view key = std::string_view(entry).substr(0, eq);
    const std::string_view value = std::string_view(entry).substr(eq + 1);
    if (key == "title") c.title = value;
    else if (key == "item") c.itemName = value;
    else if (key == "formula") c.formula = value;
    else if (key == "sort") c.sort = parseInt(value, c.sort);
    else if (key == "total") c.total = parseInt(value, c.total);
    else if (key == "flags") c.flags = uint32_t(parseInt(value, int32_t(c.flags)));
    else if (key == "width") c.width = parseInt(value, c.width);
    else if (key == "justify") c.justify = parseInt(value, c.justify);
    else if (key == "headjustify") c.headingJustify = parseInt(value, c.headingJustify);
    else if (key == "face") c.fontFace = parseInt(value, c.fontFace);
    else if (key == "style") c.fontStyle = uint32_t(parseInt(value, int32_t(c.fontStyle)));
    else if (key == "color") c.fontColor = parseInt(value, c.fontColor);
    else if (key == "size") c.fontSize = parseInt(value, c.fontSize);
  }
  if (!validSort(c.sort)) c.sort = HTCOLSORT_NONE;
  return c;
}

std::optional<formula::Formula> compileStored(std::string_view text) {
  auto compiled = formula::Formula::compile(text);
  if (!compiled) return std::nullopt;
  return std::move(compiled).value();
}

}  // namespace

void validate(const ViewDesign& design) {
  const std::string_view name = trim(design.name);
  if (name.empty()) raise(HTFAIL_INVALID_ARGUMENT, "A view needs a name");
  checkLength(name, kMaxNameBytes, "The view name");
  checkLength(design.alias, kMaxNameBytes, "The view alias");
  if (design.name.find('|') != std::string::npos)
    raise(HTFAIL_INVALID_ARGUMENT, "A view name may not contain '|'; give aliases separately");
  checkFormula(design.selection, "Selection formula of view '" + std::string(name) + "'");
  if (design.columns.size() > kMaxColumns)
    raise(HTFAIL_INVALID_ARGUMENT, "A view has at most " + std::to_string(kMaxColumns) + " columns");
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& c = design.columns[i];
    const std::string what = "Column " + std::to_string(i + 1);
    checkLength(c.title, kMaxTitleBytes, what + " title");
    checkLength(c.itemName, kMaxItemNameBytes, what + " item name");
    if (!c.itemName.empty() && !c.formula.empty())
      raise(HTFAIL_INVALID_ARGUMENT, what + " names both an item and a formula; give one of them");
    if (!validSort(c.sort)) raise(HTFAIL_INVALID_ARGUMENT, what + " has the unknown sort code " + std::to_string(c.sort));
    checkRange(c.total, HTCOLTOTAL_NONE, HTCOLTOTAL_DOCUMENT_AVG, what + " total code");
    checkRange(c.justify, HTCOLJUSTIFY_LEFT, HTCOLJUSTIFY_CENTER, what + " justification");
    checkRange(c.headingJustify, HTCOLJUSTIFY_LEFT, HTCOLJUSTIFY_CENTER, what + " heading justification");
    checkRange(c.fontFace, 0, 255, what + " font face");
    checkRange(int32_t(c.fontStyle & 0x7FFFFFFF), 0, 255, what + " font style");
    checkRange(c.fontColor, 0, 255, what + " font colour");
    checkRange(c.fontSize, 0, 255, what + " font size");
    if (!c.formula.empty()) checkFormula(c.formula, what + " formula of view '" + std::string(name) + "'");
  }
}

std::vector<store::StoredItem> toItems(const ViewDesign& design) {
  std::vector<store::StoredItem> items;
  items.push_back(makeText(kSelection, design.selection));
  items.push_back(makeNumber(kViewFlags, design.flags & kStoredViewFlags));
  items.push_back(makeNumber(kBackground, design.backgroundColor));
  items.push_back(makeNumber(kAlternate, design.alternateColor));
  items.push_back(makeNumber(kColumnCount, double(design.columns.size())));
  for (size_t i = 0; i < design.columns.size(); ++i) {
    items.push_back({kColumnPrefix + std::to_string(i + 1), HTTYPE_TEXT_LIST, 0,
                     codec::encodeTextList(columnEntries(design.columns[i]))});
  }
  return items;
}

ViewDesign fromItems(const store::NoteHeader& header, const std::vector<store::StoredItem>& items) {
  ViewDesign d;
  d.name = header.designName;
  d.alias = header.designAlias;
  d.selection = textItem(items, kSelection);
  d.flags = uint32_t(numberItem(items, kViewFlags, 0)) & kStoredViewFlags;
  d.backgroundColor = int32_t(numberItem(items, kBackground, 1));
  d.alternateColor = int32_t(numberItem(items, kAlternate, 1));
  const int64_t count = std::min<int64_t>(numberItem(items, kColumnCount, 0), int64_t(kMaxColumns));
  for (int64_t i = 1; i <= count; ++i) {
    std::vector<std::string> entries;
    const auto* item = findItem(items, kColumnPrefix + std::to_string(i));
    if (item && item->type == HTTYPE_TEXT_LIST) codec::decodeTextList(item->value, entries);
    d.columns.push_back(columnFromEntries(entries));
  }
  return d;
}

bool CompiledDesign::hasTotals() const {
  for (const auto& c : columns)
    if (c.design.total != HTCOLTOTAL_NONE) return true;
  return false;
}

std::shared_ptr<const CompiledDesign> compile(HTID id, const store::NoteHeader& header,
                                              const std::vector<store::StoredItem>& items) {
  auto out = std::make_shared<CompiledDesign>();
  out->id = id;
  out->folder = header.noteClass == store::note_class::kFolder;
  out->sequence = header.sequence;
  out->design = fromItems(header, items);
  if (!out->folder) {
    out->selection = compileStored(out->design.selection);
    if (!out->selection) {
      // Selects nothing: a design we cannot read must not fill the view with everything.
      out->selection = compileStored("SELECT 0");
    }
  }
  for (const ColumnDesign& c : out->design.columns) {
    CompiledColumn col;
    col.design = c;
    if (!c.formula.empty()) {
      col.formula = compileStored(c.formula);
      if (col.formula) {
        if (auto field = col.formula->simpleField(); field && !col.formula->hasSelect()) {
          col.field = std::string(*field);
          col.formula.reset();
        }
      }
    } else {
      col.field = c.itemName;
    }
    out->columns.push_back(std::move(col));
  }
  for (size_t i = 0; i < out->columns.size(); ++i)
    if (out->columns[i].design.categorized()) out->keyColumns.push_back(i);
  out->categoryLevels = out->keyColumns.size();
  for (size_t i = 0; i < out->columns.size(); ++i) {
    const auto& c = out->columns[i].design;
    if (c.sorted() && !c.categorized()) out->keyColumns.push_back(i);
  }
  return out;
}

std::shared_ptr<const CompiledDesign> loadDesign(store::Connection& conn, HTID id) {
  auto header = store::readNote(conn, id);
  if (!header || header->deleted || !(header->noteClass & store::note_class::kView) ||
      (header->noteClass != store::note_class::kView && header->noteClass != store::note_class::kFolder))
    return nullptr;
  return compile(id, *header, store::readItems(conn, id));
}

}  // namespace quire::engine::view
