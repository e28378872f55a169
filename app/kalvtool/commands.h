// kalvtool: the product's command line over the same components as the launcher.
// Each command lives in its own file and registers itself here.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace kalvtool {

// Exit codes shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitPartial = 1;   // some of the requested work was not done
constexpr int kExitFailure = 2;   // a failure of the error family ended the command
constexpr int kExitUsage = 64;    // EX_USAGE: the command line was wrong

using Args = std::vector<std::string>;  // the arguments after the command word

struct Command {
    const char* name;
    const char* usage;  // one or more lines, each starting with "kalvtool "
    // Given the OS by main (the native platform).
    int (*run)(kalv::platform::Platform& os, const Args& args);
    const char* details = nullptr;  // what `kalvtool help NAME` adds below the usage
};

// Registration from a command file: `static const kalvtool::Registration r{{"list", "...", run_list}};`
struct Registration {
    explicit Registration(const Command& command);
};

const std::vector<Command>& commands();

// Prints the usage of every command to stderr and returns kExitUsage.
int usage_error(const std::string& message);

}  // namespace kalvtool
