// What the programs beside the launcher need of their process and that the launcher
// itself never does: holding the application's named mutex (the stand-in application
// does, for as long as it runs) and reading the command line as one raw text.
#pragma once

#include <memory>
#include <string>

namespace kalv::platform {

// Owns a named mutex; the name is released when the holder is destroyed or the
// process ends, whichever comes first.
class HeldMutex {
public:
    virtual ~HeldMutex() = default;
};

// Creates (or opens) the named mutex and holds it; nullptr when that failed.
std::unique_ptr<HeldMutex> hold_mutex(const std::string& name);

// The command line as the process received it: GetCommandLineA on Windows; on POSIX
// the arguments joined by single blanks (the shell has already split them).
std::string raw_command_line();

}  // namespace kalv::platform
