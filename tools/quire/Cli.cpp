#include "tools/quire/Cli.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "rtl/DateTime.h"
#include "rtl/DynamicLibrary.h"
#include "rtl/FormatSettings.h"

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
    if (name == command.name) {
      CommandPath().push_back(name);
      return command.run(context, arguments);
    }
  }
  throw UsageError("unknown command '" + name + "'");
}

std::vector<std::string>& CommandPath() {
  static std::vector<std::string> path;
  return path;
}

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
    const size_t end = line.find(' ', at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

// "enable|disable" answers to either word; capitals and options stand for values.
bool WordMatches(const std::string& pattern, const std::string& word) {
  size_t at = 0;
  while (at <= pattern.size()) {
    const size_t bar = pattern.find('|', at);
    if (pattern.compare(at, bar == std::string::npos ? std::string::npos : bar - at, word) == 0) return true;
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  return false;
}

}  // namespace

std::string UsageOf(const CommandGroup& group, const std::vector<std::string>& words) {
  if (words.size() <= 1) return group.usage;
  std::string result;
  bool inMatch = false;
  std::istringstream lines(group.usage);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  quire ", 0) == 0) {
      const std::vector<std::string> entry = Words(line);
      inMatch = entry.size() > words.size();
      for (size_t k = 0; inMatch && k < words.size(); ++k) inMatch = WordMatches(entry[k + 1], words[k]);
    } else if (line.rfind("    ", 0) != 0) {
      inMatch = false;  // a note on the whole group
    }
    if (inMatch) result += line + "\n";
  }
  return result.empty() ? std::string(group.usage) : result;
}

bool TakeJson(Arguments& arguments) { return arguments.TakeFlag("--json"); }

std::string DateTimeText(const HTDATETIME& value) {
  HTDATETIME copy = value;
  HTINT parts[HTDATETIME_PART_COUNT] = {};
  if (HTAPI.HTDatetimeFetch(&copy, parts) != 0) return "-";
  rtl::TDateTime when = 0;
  if (!rtl::TryEncodeDateTime(parts[HTDTUNIT_YEAR], parts[HTDTUNIT_MONTH], parts[HTDTUNIT_DAY],
                              std::max(parts[HTDTUNIT_HOUR], 0), std::max(parts[HTDTUNIT_MINUTE], 0),
                              std::max(parts[HTDTUNIT_SECOND], 0), 0, when)) {
    return "-";
  }
  const rtl::FormatSettings& settings = rtl::DefaultFormatSettings();
  return rtl::FormatDateTime(settings.ShortDateFormat + " " + settings.LongTimeFormat, when, settings);
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

namespace quirecli {

void* EngineSymbol(const char* name) {
  Dl_info info{};
  if (!HTAPI.HTIndexOpen || !dladdr(reinterpret_cast<void*>(HTAPI.HTIndexOpen), &info) || !info.dli_fname) {
    return nullptr;
  }
  static rtl::DynamicLibrary engine(info.dli_fname);
  return engine.Symbol(name);
}

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Duration(double seconds) {
  const long whole = long(seconds + 0.5);
  char text[32];
  if (whole >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

void EngineReport(void* context, const char* phase, uint64_t done, uint64_t total) {
  static_cast<ProgressLine*>(context)->Report(phase, done, total);
}

}  // namespace

ProgressLine::ProgressLine() : terminal_(isatty(STDERR_FILENO) == 1) {
  if (!terminal_) return;
  auto set = EngineExtension<HT_HTQuireSetProgress_fn>("HTQuireSetProgress");
  if (set && set(&EngineReport, this) == 0) registered_ = true;
}

ProgressLine::~ProgressLine() {
  if (registered_) {
    if (auto set = EngineExtension<HT_HTQuireSetProgress_fn>("HTQuireSetProgress")) set(nullptr, nullptr);
  }
  if (shown_) std::fputs("\r\033[K", stderr);
}

void ProgressLine::Report(const char* phase, uint64_t done, uint64_t total) {
  if (!terminal_) return;
  const double now = Now();
  if (phase_ != phase) {
    phase_ = phase;
    started_ = now;
    next_ = 0;
  }
  const bool finished = total != 0 && done >= total;
  if (!finished && now < next_) return;
  next_ = now + 0.1;
  const double elapsed = now - started_;
  std::string line = phase_ + ": ";
  if (total != 0) {
    line += std::to_string(done) + " / " + std::to_string(total) + " (" + std::to_string(done * 100 / total) + "%)";
  } else {
    line += "working";
  }
  if (total != 0 && elapsed > 0.2 && done > 0) {
    char rate[48];
    std::snprintf(rate, sizeof rate, ", %.0f/s", double(done) / elapsed);
    line += rate;
    if (!finished) line += ", " + Duration(elapsed * double(total - done) / double(done)) + " left";
  } else {
    line += ", " + Duration(elapsed);
  }
  // A finished piece of work leaves no line behind: what follows starts on a clean line.
  std::fprintf(stderr, finished ? "\r\033[K" : "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = !finished;
}

std::string IsoDateTime(const HTDATETIME& value) {
  HTDATETIME copy = value;
  HTINT parts[HTDATETIME_PART_COUNT] = {};
  if (HTAPI.HTDatetimeFetch(&copy, parts) != 0 || parts[HTDTUNIT_YEAR] <= 0) return {};
  char text[96];  // room for six ints of any value, so the text is never cut
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", parts[HTDTUNIT_YEAR], parts[HTDTUNIT_MONTH],
                parts[HTDTUNIT_DAY], std::max(parts[HTDTUNIT_HOUR], 0), std::max(parts[HTDTUNIT_MINUTE], 0),
                std::max(parts[HTDTUNIT_SECOND], 0));
  return text;
}

}  // namespace quirecli
