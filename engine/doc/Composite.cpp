#include "engine/doc/Composite.h"

#include <cstring>

namespace quire::engine::doc {
namespace {

constexpr char kMagic[4] = {'Q', 'R', 'T', '1'};

void putU32(store::Blob& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Bounds-checked reader over a stored value.
class Reader {
 public:
  explicit Reader(const store::Blob& b) : data_(b.data()), size_(b.size()) {}
  bool u32(uint32_t& out) {
    if (size_ - pos_ < 4) return false;
    out = getU32(data_ + pos_);
    pos_ += 4;
    return true;
  }
  bool bytes(uint32_t n, const uint8_t*& out) {
    if (size_ - pos_ < n) return false;
    out = data_ + pos_;
    pos_ += n;
    return true;
  }
  bool atEnd() const { return pos_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

store::Blob paragraphData(const ParagraphStyle& style) { return {style.justify, style.list, style.heading, 0}; }

store::Blob textData(std::string_view text, const TextStyle& style) {
  store::Blob b{style.style, 0, uint8_t(style.size), uint8_t(style.size >> 8)};
  putU32(b, style.color);
  putU32(b, style.font);
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

bool readParagraph(const store::Blob& data, ParagraphStyle& out) {
  if (data.size() != 4 || data[0] > HTPABJUSTIFY_NONE || data[1] > HTPABLIST_NUMBER || data[2] > 6) return false;
  out = ParagraphStyle{data[0], data[1], data[2]};
  return true;
}

bool readText(const store::Blob& data, TextStyle& style, std::string_view& text) {
  if (data.size() < kTextHeaderSize) return false;
  style.style = data[0];
  style.size = uint16_t(data[2] | data[3] << 8);
  style.color = getU32(data.data() + 4);
  style.font = getU32(data.data() + 8);
  text = std::string_view(reinterpret_cast<const char*>(data.data()) + kTextHeaderSize, data.size() - kTextHeaderSize);
  return true;
}

bool validRecord(HTINT type, const store::Blob& data) {
  ParagraphStyle p;
  TextStyle s;
  std::string_view t;
  if (type == HTCD_PARAGRAPH) return readParagraph(data, p);
  if (type == HTCD_TEXT) return readText(data, s, t);
  return type > 0 && type <= HTCD_HOTSPOT_END;
}

Composite Composite::fromPlainText(std::string_view text) {
  Composite c;
  if (text.empty()) return c;
  if (text.back() == '\n') text.remove_suffix(1);  // a final line break ends the last line
  while (true) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    c.addParagraph({});
    c.addText(line, {});
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return c;
}

bool Composite::decode(const store::Blob& blob, Composite& out) {
  if (blob.size() < 4 || std::memcmp(blob.data(), kMagic, 4) != 0) return false;
  store::Blob body(blob.begin() + 4, blob.end());
  Reader r(body);
  Composite c;
  uint32_t fontCount = 0;
  if (!r.u32(fontCount)) return false;
  for (uint32_t i = 0; i < fontCount; ++i) {
    uint32_t len;
    const uint8_t* p;
    if (!r.u32(len) || !r.bytes(len, p)) return false;
    c.fonts.emplace_back(reinterpret_cast<const char*>(p), len);
  }
  uint32_t recordCount = 0;
  if (!r.u32(recordCount)) return false;
  for (uint32_t i = 0; i < recordCount; ++i) {
    uint32_t type, len;
    const uint8_t* p;
    if (!r.u32(type) || !r.u32(len) || !r.bytes(len, p)) return false;
    CdRecord rec{HTINT(type), store::Blob(p, p + len)};
    if (!validRecord(rec.type, rec.data)) return false;
    c.records.push_back(std::move(rec));
  }
  if (!r.atEnd()) return false;
  out = std::move(c);
  return true;
}

store::Blob Composite::encode() const {
  store::Blob b(kMagic, kMagic + 4);
  putU32(b, uint32_t(fonts.size()));
  for (const std::string& f : fonts) {
    putU32(b, uint32_t(f.size()));
    b.insert(b.end(), f.begin(), f.end());
  }
  putU32(b, uint32_t(records.size()));
  for (const CdRecord& r : records) {
    putU32(b, uint32_t(r.type));
    putU32(b, uint32_t(r.data.size()));
    b.insert(b.end(), r.data.begin(), r.data.end());
  }
  return b;
}

std::string Composite::plainText() const {
  std::string out;
  bool first = true;
  for (const CdRecord& r : records) {
    if (r.type == HTCD_PARAGRAPH) {
      if (!first) out += '\n';
    } else if (r.type == HTCD_TEXT) {
      TextStyle s;
      std::string_view t;
      if (readText(r.data, s, t)) out += t;
    }
    first = false;
  }
  return out;
}

void Composite::addParagraph(const ParagraphStyle& style) { records.push_back({HTCD_PARAGRAPH, paragraphData(style)}); }

void Composite::addText(std::string_view text, const TextStyle& style) {
  if (text.empty()) return;
  if (!records.empty() && records.back().type == HTCD_TEXT) {
    TextStyle prev;
    std::string_view t;
    if (readText(records.back().data, prev, t) && prev == style) {
      records.back().data.insert(records.back().data.end(), text.begin(), text.end());
      return;
    }
  }
  records.push_back({HTCD_TEXT, textData(text, style)});
}

uint32_t Composite::fontId(std::string_view face) {
  for (size_t i = 0; i < fonts.size(); ++i)
    if (fonts[i] == face) return uint32_t(i);
  fonts.emplace_back(face);
  return uint32_t(fonts.size() - 1);
}

std::string Composite::fontFace(uint32_t id) const { return id < fonts.size() ? fonts[id] : std::string(); }

void Composite::append(const Composite& other) {
  for (const CdRecord& r : other.records) {
    TextStyle s;
    std::string_view t;
    if (r.type == HTCD_TEXT && readText(r.data, s, t)) {
      if (s.font != kDefaultFont) s.font = other.fontFace(s.font).empty() ? kDefaultFont : fontId(other.fontFace(s.font));
      records.push_back({HTCD_TEXT, textData(t, s)});
    } else {
      records.push_back(r);
    }
  }
}

}  // namespace quire::engine::doc
