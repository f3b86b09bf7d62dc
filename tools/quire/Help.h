// Help for people and shells, all made from the usage texts the command groups register:
// `quire --help`, `quire help [GROUP]`, the man page (`quire help --man`) and the bash
// completion script (`quire help --completion bash`). The build writes the last two, so
// they always list the commands this binary has.
#pragma once

#include <iosfwd>

#include "tools/quire/Cli.h"

namespace quirecli {

extern const char* const kQuireVersion;

// The overview: synopsis, groups with their summaries, global options.
void PrintUsage(std::ostream& stream);
// How many commands the group's usage names.
int CommandCount(const CommandGroup& group);
// quire help [GROUP [COMMAND]] | --man | --completion bash
int RunHelp(Arguments& arguments, std::ostream& out);

}  // namespace quirecli
