// A small ini document: ordered sections of ordered key=value lines.
//
// Keys compare without regard to ASCII letter case within a section; the spelling of the
// first writer is kept. Values are escaped on write (\\, \n, \r) so any text survives a
// round trip.
//
// Parsing is lenient, line by line, and loses nothing: a section header without its closing
// ']' still opens that section; a line that is neither a section, a key=value nor a comment
// (;/#), or a key before any section, is kept as it stands and listed in problems(). Writing
// the document back reproduces every line it did not change, those included, so a damaged
// file is never cut down to the keys a writer happened to set. When a key appears more than
// once in a section the last one counts, as it would had the lines been read one by one.
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
  // What parse() could not read, one text per line: "line 3: ...".
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  struct Line {
    std::string raw;           // as read; empty for a line made or changed here
    bool entry = false;        // a key=value line (else kept verbatim)
    std::string key, value;
  };
  struct Section {
    std::string name;          // "" for the lines before the first header
    std::string header;        // the header line as read; empty for a section made here
    std::vector<Line> lines;
  };
  Line* findLast(std::string_view section, std::string_view key);
  std::vector<Section> sections_;
  std::vector<std::string> problems_;
};

}  // namespace quire::engine
