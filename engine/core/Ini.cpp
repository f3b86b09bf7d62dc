#include "engine/core/Ini.h"

#include <strings.h>

#include "engine/core/Text.h"

namespace quire::engine {
namespace {

bool sameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string escape(std::string_view v) {
  std::string out;
  for (char c : v) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string unescape(std::string_view v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char n = v[++i];
    out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
  }
  return out;
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  ini.sections_.push_back({});  // the lines before the first header
  size_t number = 0;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::string_view line = trim(raw);
    Section& current = ini.sections_.back();
    auto keep = [&](const std::string& problem) {
      current.lines.push_back({std::string(raw), false, {}, {}});
      if (!problem.empty()) ini.problems_.push_back("line " + std::to_string(number) + ": " + problem);
    };
    if (line.empty() || line[0] == ';' || line[0] == '#') {
      keep("");
      continue;
    }
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string name(trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
      if (name.empty()) {
        keep("\"" + std::string(line) + "\" names no section; kept as it is");
        continue;
      }
      if (close != line.size() - 1)
        ini.problems_.push_back("line " + std::to_string(number) + ": \"" + std::string(line) + "\" is read as [" +
                                name + "]");
      ini.sections_.push_back({name, std::string(raw), {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      keep("\"" + std::string(line) + "\" is no key=value line; kept as it is");
      continue;
    }
    if (current.name.empty()) {
      keep("\"" + std::string(line) + "\" stands before any [section]; kept as it is");
      continue;
    }
    const std::string_view key = trim(line.substr(0, eq));
    if (key.empty()) {
      keep("\"" + std::string(line) + "\" has no key; kept as it is");
      continue;
    }
    current.lines.push_back({std::string(raw), true, std::string(key), unescape(trim(line.substr(eq + 1)))});
  }
  return ini;
}

std::string IniFile::serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    if (!s.name.empty()) {
      if (s.header.empty() && !out.empty() && out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") != 0) out += '\n';
      out += (s.header.empty() ? '[' + s.name + ']' : s.header) + '\n';
    }
    for (const Line& l : s.lines) out += (l.raw.empty() && l.entry ? l.key + '=' + escape(l.value) : l.raw) + '\n';
  }
  return out;
}

IniFile::Line* IniFile::findLast(std::string_view section, std::string_view key) {
  Line* found = nullptr;
  for (Section& s : sections_) {
    if (s.name.empty() || !sameKey(s.name, section)) continue;
    for (Line& l : s.lines)
      if (l.entry && sameKey(l.key, key)) found = &l;
  }
  return found;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
  if (const Line* l = const_cast<IniFile*>(this)->findLast(section, key)) return l->value;
  return std::nullopt;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
  if (Line* l = findLast(section, key)) {
    if (l->value != value) {
      l->value = value;
      l->raw.clear();
    }
    return;
  }
  Section* target = nullptr;
  for (Section& s : sections_)
    if (!s.name.empty() && sameKey(s.name, section)) target = &s;
  if (!target) {
    sections_.push_back({std::string(section), {}, {}});
    target = &sections_.back();
  }
  // Before the blank lines that end the section, so it stays apart from the next one.
  auto at = target->lines.end();
  while (at != target->lines.begin() && !(at - 1)->entry && trim((at - 1)->raw).empty()) --at;
  target->lines.insert(at, Line{{}, true, std::string(key), std::string(value)});
}

bool IniFile::remove(std::string_view section, std::string_view key) {
  bool removed = false;
  for (Section& s : sections_) {
    if (s.name.empty() || !sameKey(s.name, section)) continue;
    for (auto it = s.lines.begin(); it != s.lines.end();) {
      if (it->entry && sameKey(it->key, key)) {
        it = s.lines.erase(it);
        removed = true;
      } else {
        ++it;
      }
    }
  }
  return removed;
}

IniFile::Entries IniFile::entries(std::string_view section) const {
  Entries out;
  for (const Section& s : sections_) {
    if (s.name.empty() || !sameKey(s.name, section)) continue;
    for (const Line& l : s.lines) {
      if (!l.entry) continue;
      bool seen = false;
      for (auto& [k, v] : out) {
        if (!sameKey(k, l.key)) continue;
        v = l.value;
        seen = true;
      }
      if (!seen) out.emplace_back(l.key, l.value);
    }
  }
  return out;
}

}  // namespace quire::engine
