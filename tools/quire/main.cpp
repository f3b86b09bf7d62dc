// quire: scripts a Quire data directory from the shell.
//
//   quire [--data DIR] [--user NAME] <group> <command> [arguments]
//
// --data and --user are handed to the engine (QUIRE_DATA, QUIRE_USER) before it is loaded.
// Exit codes: 0 success, 1 a failed operation, 2 a usage error.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRSessn.h"
#include "tools/quire/Cli.h"
#include "tools/quire/Help.h"

namespace {

using namespace quirecli;

bool IsHelp(const std::string& word) { return word == "help" || word == "--help" || word == "-h"; }

// Takes the global options out of the words and hands them to the engine's environment,
// which it reads when it is loaded.
void ApplyGlobalOptions(Arguments& arguments) {
  const std::string data = arguments.TakeOption("--data");
  if (!data.empty()) setenv("QUIRE_DATA", data.c_str(), 1);
  const std::string user = arguments.TakeOption("--user");
  if (!user.empty()) setenv("QUIRE_USER", user.c_str(), 1);
}

// What the engine could not read in quire.ini (it keeps those lines and goes on): said on
// stderr, so a damaged file does not go unnoticed. The call is an engine extension, found in
// the library that supplies the entry-point table.
void WarnAboutConfiguration() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(HTAPI.HTGetProperty), &info) || !info.dli_fname) return;
  void* engine = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (!engine) return;
  auto warnings = reinterpret_cast<HT_HTQuireConfigWarnings_fn>(dlsym(engine, "HTQuireConfigWarnings"));
  std::string text(4096, '\0');
  if (warnings && warnings(static_cast<HTUINT>(text.size()), text.data()) > 0) {
    text.resize(text.find('\0'));
    for (size_t start = 0; start < text.size();) {
      const size_t end = std::min(text.find('\n', start), text.size());
      std::cerr << "quire: warning: " << text.substr(start, end - start) << "\n";
      start = end + 1;
    }
  }
  dlclose(engine);
}

int RunGroup(const CommandGroup& group, Arguments& arguments) {
  Initialize();
  if (!HTInitOK) {
    std::cerr << "quire: the Quire engine could not be started";
    if (DLLLoaded) std::cerr << ": " << DescribeError(HTGlobalErr);
    std::cerr << "\n";
    return kExitFailure;
  }
  WarnAboutConfiguration();
  TQuireSession session;
  Context context{session, std::cout};
  return group.run(context, arguments);
}

// The words before "--help" that name a command ("acl role add"), options left out.
std::vector<std::string> HelpWords(const std::vector<std::string>& words) {
  std::vector<std::string> named;
  for (const std::string& word : words) {
    if (IsHelp(word)) break;
    if (word.rfind("-", 0) == 0) continue;
    named.push_back(word);
  }
  return named;
}

int Run(std::vector<std::string> words) {
  const std::vector<std::string> original = words;
  Arguments arguments(std::move(words));
  const CommandGroup* group = nullptr;
  try {
    if (arguments.TakeFlag("--version")) {
      std::cout << "quire " << kQuireVersion << "\n";
      return kExitOk;
    }
    ApplyGlobalOptions(arguments);
    if (arguments.Empty()) {
      PrintUsage(std::cerr);
      return kExitUsage;
    }
    if (IsHelp(arguments.Peek())) {
      arguments.TakeFlag(arguments.Peek());
      return RunHelp(arguments, std::cout);
    }
    const std::string name = arguments.Next("command group");
    group = FindGroup(name);
    if (!group) throw UsageError("unknown command '" + name + "'");
    CommandPath().push_back(name);
    // "quire db help", or --help anywhere after the group: the usage of the command named
    // before it.
    const bool help = IsHelp(arguments.Peek()) || arguments.HasOption("--help") || arguments.HasOption("-h");
    if (help) {
      std::vector<std::string> named = HelpWords(original);
      // The global options' values precede the group name.
      named.erase(named.begin(), std::find(named.begin(), named.end(), name));
      std::cout << "usage:\n" << UsageOf(*group, named);
      return kExitOk;
    }
    return RunGroup(*group, arguments);
  } catch (const UsageError& error) {
    std::cerr << "quire: " << error.what() << "\n";
    if (group && (CommandPath().size() > 1 || CommandCount(*group) == 1)) {
      std::cerr << "usage:\n" << UsageOf(*group, CommandPath());
      std::cerr << "Try 'quire " << group->name << " --help' for more.\n";
    } else if (group) {
      std::cerr << "Try 'quire " << group->name << " --help' for its commands.\n";
    } else {
      std::cerr << "Try 'quire --help' for the list of commands.\n";
    }
    return kExitUsage;
  } catch (const Failure& error) {
    std::cerr << "quire: " << error.what() << "\n";
    return kExitFailure;
  } catch (const std::exception& error) {
    std::cerr << "quire: " << error.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  const int code = Run(std::move(words));
  std::cout.flush();
  return code;
}
