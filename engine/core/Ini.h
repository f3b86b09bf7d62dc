// A small ini document: ordered sections of ordered key=value lines.
//
// Keys compare without regard to ASCII letter case within a section; the spelling of the
// first writer is kept. Values are escaped on write (\\, \n, \r) so any text survives a
// round trip. Lines that are neither a section, a key nor a comment (;/#) are dropped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quire::engine {

class IniFile {
 public:
  using Entries = std::vector<std::pair<std::string, std::string>>;

  static IniFile parse(std::string_view text);
  std::string serialize() const;

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  void set(std::string_view section, std::string_view key, std::string_view value);
  bool remove(std::string_view section, std::string_view key);
  // The entries of a section in file order (empty when the section is absent).
  Entries entries(std::string_view section) const;

 private:
  struct Section {
    std::string name;
    Entries entries;
  };
  Section* findSection(std::string_view name);
  const Section* findSection(std::string_view name) const;
  std::vector<Section> sections_;
};

}  // namespace quire::engine
