// The quire command-line tool: command groups, argument reading and shared output.
//
// Each command group ("db", "acl", "env", ...) lives in its own file and registers itself
// with one line at namespace scope:
//
//   QUIRE_COMMAND_GROUP(db, "db", "create, list, show, copy, back up and delete databases", kDbUsage, RunDb);
//
// where RunDb(Context&, Arguments&) gets the arguments after the group name. The usage text
// is the one source of `quire --help`, `quire db --help`, the usage line of an error, the
// man page and the shell completion: lines "  quire db create PATH ..." name a command,
// deeper-indented lines explain the command above them.
//
// A command reports bad arguments by throwing UsageError (exit 2: the message, the usage
// line of the command and a hint on stderr) and a failed operation by throwing Failure
// (exit 1, "quire: <message>" on stderr); it returns the exit code otherwise. main() loads
// the engine (Initialize) before any group runs, so a group may use the object model and
// HTAPI directly.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hitest/HTQuireExtensions.h"
#include "objects/QRAclEnt.h"
#include "objects/QRSessn.h"

class TQuireACL;
class TQuireDatabase;

namespace quirecli {

enum ExitCode : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Context {
  TQuireSession& session;
  std::ostream& out;
};

// The words after the group name. Options ("--name VALUE" or "--name=VALUE") are taken out
// first, by name; the rest are read in order.
class Arguments {
 public:
  explicit Arguments(std::vector<std::string> words) : words_(std::move(words)) {}

  // Removes and returns the option's value; `fallback` when it is absent.
  std::string TakeOption(const std::string& name, const std::string& fallback = std::string());
  bool HasOption(const std::string& name) const;
  // Removes a switch that takes no value ("--private"); true when it was given.
  bool TakeFlag(const std::string& name);
  // The next word; UsageError naming `what` when there is none.
  std::string Next(const char* what);
  // The next word, or `fallback` when there is none.
  std::string NextOr(const std::string& fallback);
  // The next word without taking it; "" when there is none.
  std::string Peek() const { return Empty() ? std::string() : words_[next_]; }
  bool Empty() const { return next_ >= words_.size(); }
  // UsageError when words are left over, or an unknown option remains.
  void ExpectEnd() const;

 private:
  std::vector<std::string> words_;
  size_t next_ = 0;
};

using GroupFunction = int (*)(Context&, Arguments&);

struct CommandGroup {
  const char* name;
  const char* summary;  // one line for `quire --help`
  const char* usage;    // lines "  quire <name> ...", each ending in '\n'
  GroupFunction run;
};

// Groups in the order of their names; registration happens before main().
const std::vector<CommandGroup>& Groups();
const CommandGroup* FindGroup(const std::string& name);

struct GroupRegistration {
  explicit GroupRegistration(const CommandGroup& group);
};

#define QUIRE_COMMAND_GROUP(id, name, summary, usage, run) \
  static const ::quirecli::GroupRegistration quireGroup_##id(::quirecli::CommandGroup{name, summary, usage, run})

// A group's commands by name: runs the one the next word names.
struct Subcommand {
  const char* name;
  GroupFunction run;
};
int Dispatch(Context& context, Arguments& arguments, std::initializer_list<Subcommand> commands);

// The words of the command being run ("acl", "role", "add"): what a usage error describes.
std::vector<std::string>& CommandPath();

// The usage lines of `group` for the command `words` names (its explanation lines too); the
// whole usage when `words` names no command of it.
std::string UsageOf(const CommandGroup& group, const std::vector<std::string>& words);

// Shared helpers.

// Whether the command was asked for JSON output (--json, taken out of the arguments).
bool TakeJson(Arguments& arguments);

// A database path as the API writes it: '/' becomes '\'.
std::string ApiPath(const std::string& path);
// "<message> (0x........)" for an API result code, or the code alone without a message.
std::string DescribeError(uint32_t code);
// Opens the database; Failure "cannot open database 'path': ..." when it cannot be opened.
std::unique_ptr<TQuireDatabase> OpenDatabase(Context& context, const std::string& server, const std::string& path);
// Failure "<what>: <message>" unless code is 0.
void Check(uint32_t code, const std::string& what);

bool ParseSwitch(const std::string& value);  // on/off, yes/no, true/false, 1/0; else UsageError
TQRAccessLevel ParseLevel(const std::string& value);  // name or 0..6; else UsageError
const char* LevelName(int32_t level);

// A function the engine exports beside the entry-point table (hitest.h, "Engine
// extensions"), found in the library that supplies the table; null when it has none.
void* EngineSymbol(const char* name);
template <typename F>
F EngineExtension(const char* name) {
  return reinterpret_cast<F>(EngineSymbol(name));
}

// Shows the engine's progress reports of long work as one line on standard error while it
// is a terminal, and nothing otherwise. One per command; the line is cleared when it ends.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // Work of the tool's own (import, export): the same line.
  void Report(const char* phase, uint64_t done, uint64_t total);

 private:
  bool terminal_ = false;
  bool shown_ = false;
  bool registered_ = false;
  std::string phase_;
  double started_ = 0;
  double next_ = 0;
};

// ISO 8601 ("2026-12-09T01:07:08"), as JSON output writes date-times; "" when unreadable.
std::string IsoDateTime(const HTDATETIME& value);

// A date-time in the locale's short date and long time ("12/9/2026 1:07:08"); "-" when the
// value cannot be read.
std::string DateTimeText(const HTDATETIME& value);

// The property and ACL listings shared by "db show", "acl show" and "demo".
void PrintDatabase(Context& context, TQuireDatabase& database);
void PrintACL(Context& context, TQuireACL& acl);

}  // namespace quirecli
