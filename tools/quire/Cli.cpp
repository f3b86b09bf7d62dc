#include "tools/quire/Cli.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"

namespace quirecli {

namespace {

std::vector<CommandGroup>& Registry() {
  static std::vector<CommandGroup> groups;
  return groups;
}

bool Equal(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

GroupRegistration::GroupRegistration(const CommandGroup& group) {
  auto& groups = Registry();
  const auto at = std::lower_bound(groups.begin(), groups.end(), group, [](const auto& a, const auto& b) {
    return std::string_view(a.name) < std::string_view(b.name);
  });
  groups.insert(at, group);
}

const std::vector<CommandGroup>& Groups() { return Registry(); }

const CommandGroup* FindGroup(const std::string& name) {
  for (const auto& group : Registry()) {
    if (name == group.name) return &group;
  }
  return nullptr;
}

std::string Arguments::TakeOption(const std::string& name, const std::string& fallback) {
  const std::string prefix = name + "=";
  for (size_t i = next_; i < words_.size(); ++i) {
    if (words_[i] == name) {
      if (i + 1 >= words_.size()) throw UsageError("option " + name + " needs a value");
      std::string value = words_[i + 1];
      words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i),
                   words_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      return value;
    }
    if (words_[i].compare(0, prefix.size(), prefix) == 0) {
      std::string value = words_[i].substr(prefix.size());
      words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
      return value;
    }
  }
  return fallback;
}

bool Arguments::HasOption(const std::string& name) const {
  return std::any_of(words_.begin() + static_cast<std::ptrdiff_t>(next_), words_.end(), [&](const std::string& word) {
    return word == name || word.compare(0, name.size() + 1, name + "=") == 0;
  });
}

bool Arguments::TakeFlag(const std::string& name) {
  auto it = std::find(words_.begin() + static_cast<std::ptrdiff_t>(next_), words_.end(), name);
  if (it == words_.end()) return false;
  words_.erase(it);
  return true;
}

std::string Arguments::Next(const char* what) {
  if (Empty()) throw UsageError(std::string("missing ") + what);
  const std::string& word = words_[next_];
  if (word.size() > 2 && word.compare(0, 2, "--") == 0) throw UsageError("unknown option " + word);
  return words_[next_++];
}

std::string Arguments::NextOr(const std::string& fallback) { return Empty() ? fallback : Next("argument"); }

void Arguments::ExpectEnd() const {
  if (Empty()) return;
  const std::string& word = words_[next_];
  if (word.size() > 2 && word.compare(0, 2, "--") == 0) throw UsageError("unknown option " + word);
  throw UsageError("unexpected argument '" + word + "'");
}

int Dispatch(Context& context, Arguments& arguments, std::initializer_list<Subcommand> commands) {
  const std::string name = arguments.Next("command");
  for (const auto& command : commands) {
    if (name == command.name) return command.run(context, arguments);
  }
  throw UsageError("unknown command '" + name + "'");
}

std::string ApiPath(const std::string& path) {
  std::string result = path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::string DescribeError(uint32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  const std::string message = GetNotesErrorText(code);
  return message.empty() ? std::string("error ") + hex : message + " (" + hex + ")";
}

std::unique_ptr<TQuireDatabase> OpenDatabase(Context& context, const std::string& server, const std::string& path) {
  auto database = context.session.GetDatabase(server, ApiPath(path));
  if (!database) throw Failure("cannot open database '" + path + "': " + DescribeError(context.session.LastError));
  return database;
}

void Check(uint32_t code, const std::string& what) {
  if (code != 0) throw Failure(what + ": " + DescribeError(code));
}

bool ParseSwitch(const std::string& value) {
  for (const char* yes : {"on", "yes", "true", "1"}) {
    if (Equal(value, yes)) return true;
  }
  for (const char* no : {"off", "no", "false", "0"}) {
    if (Equal(value, no)) return false;
  }
  throw UsageError("expected on or off, not '" + value + "'");
}

namespace {

struct LevelText {
  TQRAccessLevel level;
  const char* name;
  const char* word;  // as typed
};

constexpr LevelText kLevels[] = {
    {alNoAccess, "No Access", "noaccess"}, {alDepositor, "Depositor", "depositor"},
    {alReader, "Reader", "reader"},        {alAuthor, "Author", "author"},
    {alEditor, "Editor", "editor"},        {alDesigner, "Designer", "designer"},
    {alManager, "Manager", "manager"},
};

}  // namespace

TQRAccessLevel ParseLevel(const std::string& value) {
  std::string word;
  for (const char c : value) {
    if (c != ' ' && c != '-' && c != '_') word.push_back(c);
  }
  for (const auto& level : kLevels) {
    if (Equal(word, level.word) || word == std::to_string(level.level)) return level.level;
  }
  throw UsageError("unknown access level '" + value +
                   "' (noaccess, depositor, reader, author, editor, designer, manager)");
}

const char* LevelName(int32_t level) {
  for (const auto& entry : kLevels) {
    if (entry.level == level) return entry.name;
  }
  return "?";
}

}  // namespace quirecli
