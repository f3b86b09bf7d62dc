// Where mail goes: the people and groups of a server's directory database (names.nsf in the
// server's data directory), read once per routing run.
//
//   Person documents (Form "Person"): FullName (text or text list: the canonical name and
//     any other names), ShortName, InternetAddress, MailFile (a path below the mail
//     server's data directory, "mail\jdoe.nsf"), MailServer (optional: another configured
//     server holding the mail file).
//   Group documents (Form "Group"): ListName, Members (text list, or text separated by
//     commas, semicolons or line breaks).
//
// A name finds a person when it equals (abbreviated and case-folded) one of the person's
// FullName entries, the common name of one of them ("Ann Lee" for "CN=Ann Lee/O=Acme"), a
// ShortName or an InternetAddress. A person wins over a group of the same name; two people
// answering to one name make the name ambiguous, and mail to it is not delivered.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quire::engine::mail {

constexpr const char* kPersonForm = "Person";
constexpr const char* kGroupForm = "Group";

struct Person {
  std::string name;  // the first FullName entry
  std::string mailFile;
  std::string mailServer;
};

struct Group {
  std::string name;
  std::vector<std::string> members;
};

class MailDirectory {
 public:
  // Reads the directory of the server whose data directory is `serverRoot`. Throws Error
  // when the directory database exists but cannot be read.
  explicit MailDirectory(const std::filesystem::path& serverRoot);

  // False when the server has no directory database.
  bool available() const { return available_; }

  enum class Kind { Person, Group, Unknown, Ambiguous };
  struct Match {
    Kind kind = Kind::Unknown;
    const Person* person = nullptr;
    const Group* group = nullptr;
  };
  Match find(std::string_view name) const;

 private:
  bool available_ = false;
  std::vector<Person> people_;
  std::multimap<std::string, size_t> byKey_;  // name key -> index into people_
  std::map<std::string, Group> groups_;       // name key -> group
};

}  // namespace quire::engine::mail
