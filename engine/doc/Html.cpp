// HTML import and export of composites. The reader is a small tolerant tokenizer, not a
// validating parser: unknown tags are ignored with their text kept, unclosed tags close at the
// end, and a stray closing tag closes the nearest open tag of that name or nothing.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "engine/core/Text.h"
#include "engine/doc/Composite.h"

namespace quire::engine::doc {
namespace {

// ---- export --------------------------------------------------------------------------

void escapeInto(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

std::string colorText(uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  return buf;
}

const char* alignText(uint8_t justify) {
  switch (justify) {
    case HTPABJUSTIFY_RIGHT: return "right";
    case HTPABJUSTIFY_CENTER: return "center";
    case HTPABJUSTIFY_FULL: return "justify";
    default: return nullptr;
  }
}

class HtmlWriter {
 public:
  explicit HtmlWriter(const Composite& c) : c_(c) {}

  std::string run() {
    out_ = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n";
    const auto& records = c_.records;
    for (size_t i = 0; i < records.size(); ++i) {
      const CdRecord& r = records[i];
      if (r.type == HTCD_PARAGRAPH) {
        ParagraphStyle p;
        if (readParagraph(r.data, p)) open(p);
        previous_ = {};
      } else if (r.type == HTCD_TEXT) {
        TextStyle s;
        std::string_view t;
        if (!readText(r.data, s, t)) continue;
        if (!inParagraph_) open({});
        runText(t, s, nextText(i));
        if (!t.empty()) previous_ = t;
      }
    }
    close();
    closeList();
    out_ += "</body></html>\n";
    return std::move(out_);
  }

 private:
  // The text of the next run in the same paragraph ("" when the paragraph ends first).
  std::string_view nextText(size_t i) const {
    for (size_t k = i + 1; k < c_.records.size(); ++k) {
      const CdRecord& r = c_.records[k];
      if (r.type == HTCD_PARAGRAPH) break;
      TextStyle s;
      std::string_view t;
      if (r.type == HTCD_TEXT && readText(r.data, s, t) && !t.empty()) return t;
    }
    return {};
  }

  void open(const ParagraphStyle& p) {
    close();
    if (p.list != HTPABLIST_NONE) {
      const char* kind = p.list == HTPABLIST_NUMBER ? "ol" : "ul";
      if (list_ != kind) {
        closeList();
        out_ += std::string("<") + kind + ">\n";
        list_ = kind;
      }
      tag_ = "li";
    } else {
      closeList();
      tag_ = p.heading ? "h" + std::to_string(p.heading) : "p";
    }
    out_ += "<" + tag_;
    if (const char* align = alignText(p.justify)) out_ += std::string(" style=\"text-align:") + align + "\"";
    out_ += ">";
    inParagraph_ = true;
  }

  void close() {
    if (!inParagraph_) return;
    out_ += "</" + tag_ + ">\n";
    inParagraph_ = false;
  }

  void closeList() {
    if (list_.empty()) return;
    out_ += "</" + list_ + ">\n";
    list_.clear();
  }

  void runText(std::string_view text, const TextStyle& s, std::string_view next) {
    std::string css;
    const std::string face = c_.fontFace(s.font);
    if (!face.empty()) {
      std::string quoted;
      escapeInto(quoted, face);
      css += "font-family:'" + quoted + "';";
    }
    if (s.size) css += "font-size:" + std::to_string(s.size) + "pt;";
    if (s.color != kDefaultColor) css += "color:" + colorText(s.color) + ";";
    if (!css.empty()) out_ += "<span style=\"" + css + "\">";
    if (s.style & HTFONTSTYLE_BOLD) out_ += "<b>";
    if (s.style & HTFONTSTYLE_ITALIC) out_ += "<i>";
    if (s.style & HTFONTSTYLE_UNDERLINE) out_ += "<u>";
    if (s.style & HTFONTSTYLE_STRIKEOUT) out_ += "<s>";
    // A reader collapses whitespace and drops it at the ends of a paragraph; a space that
    // would be lost that way is written as an entity. A single space between two words
    // (even of different runs) survives as it is.
    const bool wordBefore = !previous_.empty() && previous_.back() != ' ' && previous_.back() != '\t';
    const bool wordAfter = !next.empty() && next.front() != ' ' && next.front() != '\t';
    std::string escaped;
    escapeInto(escaped, text);
    for (size_t i = 0; i < escaped.size(); ++i) {
      const char c = escaped[i];
      if (c == '\t') {
        out_ += "&#9;";
        continue;
      }
      if (c != ' ') {
        out_ += c;
        continue;
      }
      const bool afterWord = i > 0 ? escaped[i - 1] != ' ' && escaped[i - 1] != '\t' : wordBefore;
      const bool beforeWord = i + 1 < escaped.size() ? escaped[i + 1] != ' ' && escaped[i + 1] != '\t' : wordAfter;
      out_ += afterWord && beforeWord ? " " : "&#32;";
    }
    if (s.style & HTFONTSTYLE_STRIKEOUT) out_ += "</s>";
    if (s.style & HTFONTSTYLE_UNDERLINE) out_ += "</u>";
    if (s.style & HTFONTSTYLE_ITALIC) out_ += "</i>";
    if (s.style & HTFONTSTYLE_BOLD) out_ += "</b>";
    if (!css.empty()) out_ += "</span>";
  }

  const Composite& c_;
  std::string_view previous_;  // the last run's text in the current paragraph
  std::string out_;
  std::string tag_;
  std::string list_;
  bool inParagraph_ = false;
};

// ---- import --------------------------------------------------------------------------

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

struct Entity {
  const char* name;
  uint32_t cp;
};
constexpr Entity kEntities[] = {
    {"amp", '&'},    {"lt", '<'},       {"gt", '>'},      {"quot", '"'},    {"apos", '\''},  {"nbsp", 0xA0},
    {"copy", 0xA9},  {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},
    {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"euro", 0x20AC}, {"pound", 0xA3},
    {"yen", 0xA5},   {"sect", 0xA7},    {"deg", 0xB0},    {"middot", 0xB7}, {"laquo", 0xAB}, {"raquo", 0xBB},
    {"auml", 0xE4},  {"ouml", 0xF6},    {"uuml", 0xFC},   {"Auml", 0xC4},   {"Ouml", 0xD6},  {"Uuml", 0xDC},
    {"szlig", 0xDF}, {"eacute", 0xE9},  {"egrave", 0xE8}, {"agrave", 0xE0}, {"ccedil", 0xE7}, {"ntilde", 0xF1},
};

// Decodes the entities of `text`; an unknown or malformed entity stays as written.
std::string decodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    size_t semi = text.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += text[i++];
      continue;
    }
    std::string_view name = text.substr(i + 1, semi - i - 1);
    std::optional<uint32_t> cp;
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      std::string digits(name.substr(hex ? 2 : 1));
      char* end = nullptr;
      unsigned long v = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (!digits.empty() && end && *end == '\0') cp = uint32_t(std::min<unsigned long>(v, 0x110000));
    } else {
      for (const Entity& e : kEntities)
        if (name == e.name) cp = e.cp;
    }
    if (!cp) {
      out += text[i++];
      continue;
    }
    appendUtf8(out, *cp);
    i = semi + 1;
  }
  return out;
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

std::string attribute(const Attributes& attrs, std::string_view name) {
  for (const auto& [k, v] : attrs)
    if (k == name) return v;
  return {};
}

Attributes parseAttributes(std::string_view s) {
  Attributes out;
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  };
  while (true) {
    skipSpace();
    if (i >= s.size()) break;
    size_t start = i;
    while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '=' && s[i] != '/') ++i;
    if (i == start) {
      ++i;
      continue;
    }
    std::string name = lower(s.substr(start, i - start));
    skipSpace();
    std::string value;
    if (i < s.size() && s[i] == '=') {
      ++i;
      skipSpace();
      if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        char q = s[i++];
        size_t end = s.find(q, i);
        if (end == std::string_view::npos) end = s.size();
        value = s.substr(i, end - i);
        i = end < s.size() ? end + 1 : end;
      } else {
        start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        value = s.substr(start, i - start);
      }
    }
    out.emplace_back(std::move(name), decodeEntities(value));
  }
  return out;
}

struct NamedColor {
  const char* name;
  uint32_t rgb;  // 0xRRGGBB
};
constexpr NamedColor kColors[] = {
    {"black", 0x000000}, {"white", 0xFFFFFF}, {"red", 0xFF0000},    {"green", 0x008000}, {"blue", 0x0000FF},
    {"yellow", 0xFFFF00}, {"gray", 0x808080}, {"grey", 0x808080},   {"silver", 0xC0C0C0}, {"maroon", 0x800000},
    {"purple", 0x800080}, {"fuchsia", 0xFF00FF}, {"lime", 0x00FF00}, {"olive", 0x808000}, {"navy", 0x000080},
    {"teal", 0x008080},  {"aqua", 0x00FFFF}, {"orange", 0xFFA500},
};

// A CSS or attribute colour as 0x00BBGGRR.
std::optional<uint32_t> parseColor(std::string_view text) {
  std::string t = lower(trim(text));
  uint32_t rgb = 0;
  if (!t.empty() && t[0] == '#') {
    std::string hex = t.substr(1);
    if (hex.size() == 3) hex = {hex[0], hex[0], hex[1], hex[1], hex[2], hex[2]};
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
    rgb = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
  } else {
    bool found = false;
    for (const NamedColor& c : kColors)
      if (t == c.name) {
        rgb = c.rgb;
        found = true;
      }
    if (!found) return std::nullopt;
  }
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

std::optional<uint16_t> parseCssSize(std::string_view text) {
  std::string t = lower(trim(text));
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || v <= 0 || v > 1000) return std::nullopt;
  std::string unit(trim(std::string_view(end)));
  if (unit == "px") v *= 0.75;
  else if (unit != "pt" && !unit.empty()) return std::nullopt;
  return uint16_t(v + 0.5);
}

constexpr uint16_t kFontSizes[] = {8, 10, 12, 14, 18, 24, 36};  // <font size=1..7>

enum class Kind { Ignore, Block, Inline, Break, Skip, ListBox };

Kind kindOf(const std::string& tag) {
  static const char* kBlocks[] = {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "li", "blockquote",
                                  "pre", "tr", "dt", "dd", "address", "center", "section", "article", "header",
                                  "footer", "td", "th"};
  static const char* kInline[] = {"b", "strong", "i", "em", "u", "ins", "s", "strike", "del", "span", "font",
                                  "a", "code", "tt", "small", "big", "sub", "sup", "cite", "var", "abbr"};
  static const char* kSkip[] = {"head", "script", "style", "title", "template"};
  if (tag == "br") return Kind::Break;
  if (tag == "ul" || tag == "ol") return Kind::ListBox;
  for (const char* t : kBlocks)
    if (tag == t) return Kind::Block;
  for (const char* t : kInline)
    if (tag == t) return Kind::Inline;
  for (const char* t : kSkip)
    if (tag == t) return Kind::Skip;
  return Kind::Ignore;
}

class HtmlReader {
 public:
  Composite run(std::string_view html) {
    size_t i = 0;
    while (i < html.size()) {
      if (html[i] != '<') {
        size_t lt = html.find('<', i);
        if (lt == std::string_view::npos) lt = html.size();
        text(html.substr(i, lt - i));
        i = lt;
        continue;
      }
      if (html.compare(i, 4, "<!--") == 0) {
        size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      const char after = i + 1 < html.size() ? html[i + 1] : ' ';
      const bool tagStart = std::isalpha(static_cast<unsigned char>(after)) || after == '/' || after == '!' || after == '?';
      size_t gt = tagStart ? findTagEnd(html, i + 1) : std::string_view::npos;
      if (gt == std::string_view::npos) {  // a '<' that starts no tag is text
        text(html.substr(i, 1));
        ++i;
        continue;
      }
      std::string_view inner = html.substr(i + 1, gt - i - 1);
      i = gt + 1;
      if (inner.empty() || inner[0] == '!' || inner[0] == '?') continue;
      const bool closing = inner[0] == '/';
      if (closing) inner.remove_prefix(1);
      size_t nameEnd = 0;
      while (nameEnd < inner.size() && (std::isalnum(static_cast<unsigned char>(inner[nameEnd])) || inner[nameEnd] == '-'))
        ++nameEnd;
      if (nameEnd == 0) continue;
      const std::string name = lower(inner.substr(0, nameEnd));
      if (kindOf(name) == Kind::Skip && !closing) {
        i = skipElement(html, i, name);
        continue;
      }
      if (closing) {
        closeTag(name);
      } else {
        const bool selfClosing = !inner.empty() && inner.back() == '/';
        openTag(name, parseAttributes(inner.substr(nameEnd, inner.size() - nameEnd - (selfClosing ? 1 : 0))),
                selfClosing);
      }
    }
    return std::move(out_);
  }

 private:
  struct Open {
    std::string tag;
    TextStyle style;
  };

  static size_t findTagEnd(std::string_view html, size_t from) {
    char quote = 0;
    for (size_t i = from; i < html.size(); ++i) {
      const char c = html[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i;
      } else if (c == '<') {
        return std::string_view::npos;
      }
    }
    return std::string_view::npos;
  }

  static size_t skipElement(std::string_view html, size_t from, const std::string& name) {
    const std::string low = lower(html.substr(from));
    size_t end = low.find("</" + name, 0);
    if (end == std::string::npos) return html.size();
    size_t gt = html.find('>', from + end);
    return gt == std::string_view::npos ? html.size() : gt + 1;
  }

  TextStyle currentStyle() const { return stack_.empty() ? TextStyle{} : stack_.back().style; }

  void startParagraph(const ParagraphStyle& style) {
    out_.addParagraph(style);
    paragraph_ = style;
    open_ = true;
    empty_ = true;
    pendingSpace_ = false;
  }

  ParagraphStyle blockStyle(const std::string& tag, const Attributes& attrs) const {
    ParagraphStyle p;
    if (tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6') p.heading = uint8_t(tag[1] - '0');
    if (tag == "li") p.list = lists_.empty() ? uint8_t(HTPABLIST_BULLET) : lists_.back();
    if (tag == "center") p.justify = HTPABJUSTIFY_CENTER;
    std::string align = lower(attribute(attrs, "align"));
    for (const auto& [k, v] : cssPairs(attribute(attrs, "style")))
      if (k == "text-align") align = v;
    if (align == "right") p.justify = HTPABJUSTIFY_RIGHT;
    else if (align == "center") p.justify = HTPABJUSTIFY_CENTER;
    else if (align == "justify") p.justify = HTPABJUSTIFY_FULL;
    return p;
  }

  static std::vector<std::pair<std::string, std::string>> cssPairs(std::string_view css) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!css.empty()) {
      size_t semi = css.find(';');
      std::string_view decl = css.substr(0, semi);
      size_t colon = decl.find(':');
      if (colon != std::string_view::npos)
        out.emplace_back(lower(trim(decl.substr(0, colon))), std::string(trim(decl.substr(colon + 1))));
      if (semi == std::string_view::npos) break;
      css.remove_prefix(semi + 1);
    }
    return out;
  }

  void applyCss(TextStyle& s, std::string_view css) {
    for (const auto& [k, v] : cssPairs(css)) {
      const std::string lv = lower(v);
      if (k == "font-weight") {
        if (lv == "bold" || lv == "bolder" || std::atoi(lv.c_str()) >= 600) s.style |= HTFONTSTYLE_BOLD;
        else s.style &= uint8_t(~HTFONTSTYLE_BOLD);
      } else if (k == "font-style") {
        if (lv == "italic" || lv == "oblique") s.style |= HTFONTSTYLE_ITALIC;
        else s.style &= uint8_t(~HTFONTSTYLE_ITALIC);
      } else if (k == "text-decoration" || k == "text-decoration-line") {
        if (lv.find("underline") != std::string::npos) s.style |= HTFONTSTYLE_UNDERLINE;
        if (lv.find("line-through") != std::string::npos) s.style |= HTFONTSTYLE_STRIKEOUT;
      } else if (k == "color") {
        if (auto c = parseColor(v)) s.color = *c;
      } else if (k == "font-size") {
        if (auto sz = parseCssSize(v)) s.size = *sz;
      } else if (k == "font-family") {
        std::string face(trim(std::string_view(v).substr(0, v.find(','))));
        if (face.size() >= 2 && (face.front() == '\'' || face.front() == '"') && face.back() == face.front())
          face = face.substr(1, face.size() - 2);
        if (!face.empty()) s.font = out_.fontId(face);
      }
    }
  }

  TextStyle inlineStyle(const std::string& tag, const Attributes& attrs) {
    TextStyle s = currentStyle();
    if (tag == "b" || tag == "strong") s.style |= HTFONTSTYLE_BOLD;
    else if (tag == "i" || tag == "em" || tag == "cite" || tag == "var") s.style |= HTFONTSTYLE_ITALIC;
    else if (tag == "u" || tag == "ins") s.style |= HTFONTSTYLE_UNDERLINE;
    else if (tag == "s" || tag == "strike" || tag == "del") s.style |= HTFONTSTYLE_STRIKEOUT;
    if (tag == "font") {
      std::string face = attribute(attrs, "face");
      face = std::string(trim(std::string_view(face).substr(0, face.find(','))));
      if (!face.empty()) s.font = out_.fontId(face);
      std::string size(trim(attribute(attrs, "size")));
      if (!size.empty()) {
        int n = std::atoi(size.c_str());
        if (size[0] == '+' || size[0] == '-') n += 3;
        s.size = kFontSizes[std::clamp(n, 1, 7) - 1];
      }
      if (auto c = parseColor(attribute(attrs, "color"))) s.color = *c;
    }
    applyCss(s, attribute(attrs, "style"));
    return s;
  }

  void openTag(const std::string& tag, const Attributes& attrs, bool selfClosing) {
    switch (kindOf(tag)) {
      case Kind::Break:
        if (!open_) startParagraph(paragraph_);
        startParagraph(paragraph_);
        return;
      case Kind::ListBox:
        lists_.push_back(tag == "ol" ? HTPABLIST_NUMBER : HTPABLIST_BULLET);
        open_ = false;
        return;
      case Kind::Block: {
        const ParagraphStyle p = blockStyle(tag, attrs);
        // A block directly inside another block that has no text yet reuses its paragraph.
        if (open_ && empty_ && !out_.records.empty() && out_.records.back().type == HTCD_PARAGRAPH) {
          out_.records.back().data = paragraphData(p);
          paragraph_ = p;
        } else {
          startParagraph(p);
        }
        if (!selfClosing) stack_.push_back({tag, inlineStyle(tag, attrs)});
        return;
      }
      case Kind::Inline:
        if (!selfClosing) stack_.push_back({tag, inlineStyle(tag, attrs)});
        return;
      default:
        return;
    }
  }

  void closeTag(const std::string& tag) {
    const Kind kind = kindOf(tag);
    if (kind == Kind::ListBox) {
      if (!lists_.empty()) lists_.pop_back();
      open_ = false;
      return;
    }
    auto it = std::find_if(stack_.rbegin(), stack_.rend(), [&](const Open& o) { return o.tag == tag; });
    if (it != stack_.rend()) stack_.erase(std::next(it).base(), stack_.end());
    if (kind == Kind::Block) {
      open_ = false;
      paragraph_ = {};
    }
  }

  static bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f'; }

  // Literal whitespace collapses to one space, dropped at the start and end of a paragraph;
  // whitespace written as entities (&#32;, &#9;, &nbsp;) is text and stays.
  void text(std::string_view raw) {
    size_t i = 0;
    while (i < raw.size()) {
      if (isSpace(raw[i])) {
        while (i < raw.size() && isSpace(raw[i])) ++i;
        if (open_ && !empty_ && !pendingSpace_) {
          pendingSpace_ = true;
          pendingStyle_ = currentStyle();
        }
        continue;
      }
      size_t j = i;
      while (j < raw.size() && !isSpace(raw[j])) ++j;
      emit(decodeEntities(raw.substr(i, j - i)));
      i = j;
    }
  }

  void emit(const std::string& word) {
    if (word.empty()) return;
    if (!open_) startParagraph(paragraph_);
    if (pendingSpace_) out_.addText(" ", pendingStyle_);
    pendingSpace_ = false;
    out_.addText(word, currentStyle());
    empty_ = false;
  }

  Composite out_;
  std::vector<Open> stack_;
  std::vector<uint8_t> lists_;
  ParagraphStyle paragraph_;
  bool open_ = false;
  bool empty_ = true;
  bool pendingSpace_ = false;
  TextStyle pendingStyle_;
};

}  // namespace

std::string toHtml(const Composite& composite) { return HtmlWriter(composite).run(); }

Composite fromHtml(std::string_view html) { return HtmlReader().run(html); }

}  // namespace quire::engine::doc
