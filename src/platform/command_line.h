// Splitting a Windows command line into arguments by the usual rules: white space
// (every character up to the blank) separates arguments, double quotes group
// characters, white space included, and are dropped. A backslash is an ordinary
// character. The Win32 backend applies it to GetCommandLineA.
#pragma once

#include <string>
#include <vector>

namespace kalv::platform {

// Every argument, the program name first. Quotes that enclose nothing still make an
// (empty) argument: `a "" b` gives three.
std::vector<std::string> split_command_line(const std::string& command_line);

}  // namespace kalv::platform
