#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "commands.h"
#include "core/errors.h"
#include "core/printable.h"
#include "kalv_version.h"
#include "platform/library_search.h"
#include "unzip/extract.h"
#include "unzip/obj_lists.h"

namespace kalvtool {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}

// The lines that main handles itself, beside the registered commands.
constexpr const char* kHelpUsage =
    "kalvtool help [COMMAND]         what COMMAND does (every command's usage without one)\n"
    "kalvtool --version              the version of kalvtool and of the launcher built with it";

// Prints `text` line by line, each indented by `indent`.
void print_lines(FILE* to, const std::string& text, const char* indent) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        std::fprintf(to, "%s%s\n", line.empty() ? "" : indent, line.c_str());
        start = end + 1;
    }
}

void print_usage(FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& c : commands()) print_lines(to, c.usage, "  ");
    print_lines(to, kHelpUsage, "  ");
}

// kalvtool help [COMMAND]
int run_help(const Args& args) {
    if (args.empty()) {
        std::printf("kalvtool %s: the Kalv3 launcher's components on the command line\n", KALV_VERSION_TEXT);
        print_usage(stdout);
        return kExitOk;
    }
    if (args.size() > 1) return usage_error("help takes at most one COMMAND");
    if (args[0] == "help" || args[0] == "--version") {
        print_lines(stdout, kHelpUsage, "");
        return kExitOk;
    }
    for (const Command& c : commands()) {
        if (args[0] != c.name) continue;
        print_lines(stdout, c.usage, "");
        if (c.details) {
            std::printf("\n");
            print_lines(stdout, c.details, "  ");
        }
        return kExitOk;
    }
    return usage_error("no command '" + args[0] + "' to help with");
}

}  // namespace

// The object lists' own failure text is Windows-1251 bytes, which no UTF-8 terminal
// and no other code page shows as letters: it is said in English here.
static std::string readable(const std::string& message) {
    std::string text = message;
    const size_t at = text.find(kalv::unzip::kListProblem);
    if (at != std::string::npos) text.replace(at, kalv::unzip::kListProblem.size(), "list index or capacity out of range");
    return text;
}

Registration::Registration(const Command& command) { registry().push_back(command); }

const std::vector<Command>& commands() { return registry(); }

int usage_error(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "kalvtool: %s\n", message.c_str());
    print_usage(stderr);
    return kExitUsage;
}

}  // namespace kalvtool

int main(int argc, char** argv) {
    // Before anything can load a DLL: kalvtool run from a Downloads folder loads none
    // that lies beside it.
    kalv::platform::restrict_library_search();
    // KALV_THREADS=0|1 runs the extraction on one core or two (tests run both ways).
    if (const auto threading = kalv::unzip::threading_from_text(std::getenv("KALV_THREADS")))
        kalv::unzip::set_process_threading(*threading);
    using namespace kalvtool;
    if (argc < 2) return usage_error("no command given");
    const std::string word = argv[1];
    const Args rest(argv + 2, argv + argc);
    if (word == "--version") {
        if (!rest.empty()) return usage_error("--version takes no arguments");
        std::printf("kalvtool %s\n", KALV_VERSION_TEXT);
        return kExitOk;
    }
    if (word == "-h" || word == "--help" || word == "help") return run_help(rest);
    for (const Command& c : commands()) {
        if (word != c.name) continue;
        try {
            return c.run(kalv::platform::native(), rest);
        } catch (const kalv::Error& e) {
            // The message may name a path made of an entry's stored name.
            std::fprintf(stderr, "kalvtool %s: %s\n", c.name, kalv::printable(readable(e.what())).c_str());
            return kExitFailure;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kalvtool %s: internal error: %s\n", c.name, e.what());
            return kExitFailure;
        }
    }
    return usage_error("unknown command '" + word + "'");
}
