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
  std::string current;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = std::string(trim(line.substr(1, line.size() - 2)));
      if (!ini.findSection(current)) ini.sections_.push_back({current, {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || current.empty()) continue;
    ini.set(current, trim(line.substr(0, eq)), unescape(trim(line.substr(eq + 1))));
  }
  return ini;
}

std::string IniFile::serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    if (!out.empty()) out += '\n';
    out += '[' + s.name + "]\n";
    for (const auto& [k, v] : s.entries) out += k + '=' + escape(v) + '\n';
  }
  return out;
}

IniFile::Section* IniFile::findSection(std::string_view name) {
  for (Section& s : sections_)
    if (sameKey(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::findSection(std::string_view name) const {
  return const_cast<IniFile*>(this)->findSection(name);
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
  if (const Section* s = findSection(section))
    for (const auto& [k, v] : s->entries)
      if (sameKey(k, key)) return v;
  return std::nullopt;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = findSection(section);
  if (!s) {
    sections_.push_back({std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& [k, v] : s->entries) {
    if (sameKey(k, key)) {
      v = value;
      return;
    }
  }
  s->entries.emplace_back(std::string(key), std::string(value));
}

bool IniFile::remove(std::string_view section, std::string_view key) {
  Section* s = findSection(section);
  if (!s) return false;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
    if (sameKey(it->first, key)) {
      s->entries.erase(it);
      return true;
    }
  }
  return false;
}

IniFile::Entries IniFile::entries(std::string_view section) const {
  const Section* s = findSection(section);
  return s ? s->entries : Entries{};
}

}  // namespace quire::engine
