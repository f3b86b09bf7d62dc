#include "tools/quire/Help.h"

#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quirecli {

#ifndef QUIRE_VERSION
#define QUIRE_VERSION "unknown"
#endif
const char* const kQuireVersion = QUIRE_VERSION;

namespace {

constexpr char kSynopsis[] = "quire [--data DIR] [--user NAME] COMMAND [ARGUMENTS] [--json] [--help]";

constexpr char kDescription[] =
    "quire scripts a Quire data directory from the shell: databases, their access control "
    "lists, documents, views and folders, searches, agents, the directory, mail, replication "
    "and named servers. It works through the same object model and engine an application uses.";

struct Option {
  const char* name;
  const char* text;
};

constexpr Option kGlobalOptions[] = {
    {"--data DIR", "use DIR as the local data directory (default: $QUIRE_DATA, else the engine's own)"},
    {"--user NAME", "act as NAME (default: $QUIRE_USER, else the user of quire.ini)"},
    {"--json", "on commands that list or show: print JSON instead of the table"},
    {"--help", "print the usage of the command given before it; alone, this overview"},
    {"--version", "print the version of quire"},
};

constexpr Option kExitCodes[] = {
    {"0", "success"},
    {"1", "the operation failed (the reason is on standard error)"},
    {"2", "the command line is wrong (the usage line of the command is on standard error)"},
};

constexpr Option kEnvironment[] = {
    {"QUIRE_DATA", "the local data directory (default ${XDG_DATA_HOME:-~/.local/share}/quire/data)"},
    {"QUIRE_USER", "the user name, overriding quire.ini"},
};

constexpr char kTry[] =
    "  quire demo                          make and show the sample database\n"
    "  quire db list                       the databases of the data directory\n"
    "  quire view show sample.nsf \"By Customer\"\n";

// A usage text as entries: a command line and the explanation lines under it.
struct Entry {
  std::vector<std::string> words;  // after "quire"
  std::string line;
  std::vector<std::string> notes;
};

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::vector<Entry> Entries(const CommandGroup& group, std::vector<std::string>* groupNotes = nullptr) {
  std::vector<Entry> entries;
  std::istringstream lines(group.usage);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  quire ", 0) == 0) {
      std::vector<std::string> words = Split(line);
      words.erase(words.begin());
      entries.push_back({words, line.substr(2), {}});
    } else if (line.rfind("    ", 0) == 0 && !entries.empty()) {
      entries.back().notes.push_back(line.substr(line.find_first_not_of(' ')));
    } else if (groupNotes) {
      groupNotes->push_back(line.substr(line.find_first_not_of(' ')));
    }
  }
  return entries;
}

bool IsCommandWord(const std::string& word) {
  if (word.empty() || word[0] == '-' || word[0] == '[' || word[0] == '"') return false;
  for (const char c : word) {
    if (!((c >= 'a' && c <= 'z') || c == '-' || c == '|')) return false;
  }
  return true;
}

// The leading command words of an entry ("acl", "entry-role", "enable|disable").
std::vector<std::string> CommandWords(const Entry& entry) {
  std::vector<std::string> words;
  for (const std::string& word : entry.words) {
    if (!IsCommandWord(word)) break;
    words.push_back(word);
  }
  return words;
}

std::vector<std::string> Alternatives(const std::string& word) {
  std::vector<std::string> out;
  std::istringstream stream(word);
  for (std::string part; std::getline(stream, part, '|');) out.push_back(part);
  return out;
}

// Every "--option" named on the entry's lines.
std::set<std::string> OptionsOf(const Entry& entry) {
  std::set<std::string> options;
  std::string all = entry.line;
  for (const auto& note : entry.notes) all += " " + note;
  for (size_t at = all.find("--"); at != std::string::npos; at = all.find("--", at + 2)) {
    size_t end = at + 2;
    while (end < all.size() && ((all[end] >= 'a' && all[end] <= 'z') || all[end] == '-')) ++end;
    if (end > at + 2) options.insert(all.substr(at, end - at));
  }
  return options;
}

// ---- man page ----------------------------------------------------------------------------

std::string Roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

void PrintMan(std::ostream& out) {
  out << ".TH QUIRE 1 \"\" \"quire " << kQuireVersion << "\" \"Quire\"\n"
      << ".SH NAME\nquire \\- script a Quire data directory from the shell\n"
      << ".SH SYNOPSIS\n.B " << Roff(kSynopsis) << "\n"
      << ".SH DESCRIPTION\n" << Roff(kDescription) << "\n";
  out << ".SH COMMANDS\n";
  for (const auto& group : Groups()) {
    std::vector<std::string> notes;
    const std::vector<Entry> entries = Entries(group, &notes);
    out << ".SS " << group.name << "\n" << Roff(group.summary) << ".\n";
    for (const Entry& entry : entries) {
      out << ".TP\n.B " << Roff(entry.line) << "\n";
      std::string paragraph;
      for (const auto& note : entry.notes) paragraph += (paragraph.empty() ? "" : " ") + note;
      if (!paragraph.empty()) out << Roff(paragraph) << "\n";
    }
    for (const auto& note : notes) out << ".PP\n" << Roff(note) << "\n";
  }
  out << ".SH OPTIONS\n";
  for (const auto& option : kGlobalOptions) out << ".TP\n.B " << Roff(option.name) << "\n" << Roff(option.text) << "\n";
  out << ".SH OUTPUT\nTables go to standard output with stable columns; counts and progress go to standard "
         "error or appear only in the table form. With \\-\\-json a command prints one JSON value instead. "
         "A progress line (count, rate, time left) is shown on standard error only when it is a terminal.\n";
  out << ".SH EXIT STATUS\n";
  for (const auto& code : kExitCodes) out << ".TP\n.B " << code.name << "\n" << Roff(code.text) << "\n";
  out << ".SH ENVIRONMENT\n";
  for (const auto& variable : kEnvironment) out << ".TP\n.B " << variable.name << "\n" << Roff(variable.text) << "\n";
  out << ".SH FILES\n.TP\n.B quire.ini\nin the data directory: the user name, environment strings, international "
         "settings and the named servers.\n";
  out << ".SH EXAMPLES\n.nf\n" << Roff(kTry) << ".fi\n";
}

// ---- bash completion -----------------------------------------------------------------------

std::string Quoted(const std::set<std::string>& words) {
  std::string out;
  for (const auto& word : words) out += (out.empty() ? "" : " ") + word;
  return out;
}

void PrintCompletion(std::ostream& out) {
  // Command path ("db", "db create") -> the words that may follow it.
  std::map<std::string, std::set<std::string>> next;
  std::map<std::string, std::set<std::string>> options;
  for (const auto& option : kGlobalOptions) next[""].insert(Split(option.name)[0]);
  for (const auto& group : Groups()) {
    next[""].insert(group.name);
    std::vector<std::string> notes;
    const std::vector<Entry> entries = Entries(group, &notes);
    Entry shared;
    for (const auto& note : notes) shared.notes.push_back(note);
    for (const Entry& entry : entries) {
      const std::vector<std::string> words = CommandWords(entry);
      std::vector<std::string> paths{""};
      for (const std::string& word : words) {
        std::vector<std::string> longer;
        for (const std::string& path : paths) {
          for (const std::string& alternative : Alternatives(word)) {
            next[path].insert(alternative);
            longer.push_back(path.empty() ? alternative : path + " " + alternative);
          }
        }
        paths = longer;
      }
      for (const std::string& path : paths) {
        options[path].insert("--help");
        for (const std::string& option : OptionsOf(entry)) options[path].insert(option);
        for (const std::string& option : OptionsOf(shared)) options[path].insert(option);
      }
    }
  }
  out << "# bash completion for quire " << kQuireVersion << "; generated by 'quire help --completion bash'.\n"
      << "_quire_next() {\n  case \"$1\" in\n";
  for (const auto& [path, words] : next) {
    std::set<std::string> all = words;
    if (options.count(path)) all.insert(options[path].begin(), options[path].end());
    out << "    \"" << path << "\") echo \"" << Quoted(all) << "\" ;;\n";
  }
  for (const auto& [path, words] : options) {
    if (!next.count(path)) out << "    \"" << path << "\") echo \"" << Quoted(words) << "\" ;;\n";
  }
  out << "  esac\n}\n"
         "_quire() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} path=\"\" i word candidate\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case \"$word\" in\n"
         "      --data|--user) ((i++)); continue ;;\n"
         "      -*) continue ;;\n"
         "    esac\n"
         "    candidate=${path:+$path }$word\n"
         "    [[ -n \"$(_quire_next \"$candidate\")\" ]] || break\n"
         "    path=$candidate\n"
         "  done\n"
         "  case \"$prev\" in\n"
         "    --data) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
         "    --user|--server|--title|--to|--cc|--bcc|--subject|--body|--form) COMPREPLY=(); return ;;\n"
         "  esac\n"
         "  COMPREPLY=($(compgen -W \"$(_quire_next \"$path\")\" -- \"$cur\"))\n"
         "  if [[ ${#COMPREPLY[@]} -eq 0 && $cur != -* ]]; then COMPREPLY=($(compgen -f -- \"$cur\")); fi\n"
         "}\n"
         "complete -F _quire quire\n";
}

}  // namespace

int CommandCount(const CommandGroup& group) { return int(Entries(group).size()); }

void PrintUsage(std::ostream& stream) {
  stream << "usage: " << kSynopsis << "\n\ncommands:\n";
  for (const auto& group : Groups()) {
    std::string name = group.name;
    name.resize(std::max<size_t>(name.size(), 11), ' ');
    stream << "  " << name << " " << group.summary << "\n";
  }
  stream << "\noptions:\n";
  for (const auto& option : kGlobalOptions) {
    std::string name = option.name;
    name.resize(std::max<size_t>(name.size(), 12), ' ');
    stream << "  " << name << " " << option.text << "\n";
  }
  stream << "\nRun 'quire COMMAND --help' for the usage of a command. To start:\n" << kTry;
}

int RunHelp(Arguments& arguments, std::ostream& out) {
  if (arguments.TakeFlag("--man")) {
    arguments.ExpectEnd();
    PrintMan(out);
    return kExitOk;
  }
  const std::string shell = arguments.TakeOption("--completion");
  if (!shell.empty()) {
    if (shell != "bash") throw UsageError("completion is written for bash only, not '" + shell + "'");
    arguments.ExpectEnd();
    PrintCompletion(out);
    return kExitOk;
  }
  std::vector<std::string> words;
  while (!arguments.Empty()) words.push_back(arguments.Next("command"));
  if (words.empty()) {
    PrintUsage(out);
    return kExitOk;
  }
  const CommandGroup* group = FindGroup(words.front());
  if (!group) throw UsageError("unknown command '" + words.front() + "'");
  out << "usage:\n" << UsageOf(*group, words);
  return kExitOk;
}

}  // namespace quirecli
