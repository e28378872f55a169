#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

#include "commands.h"
#include "core/errors.h"

namespace kalvtool {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}
}  // namespace

Registration::Registration(const Command& command) { registry().push_back(command); }

const std::vector<Command>& commands() { return registry(); }

int usage_error(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "kalvtool: %s\n", message.c_str());
    std::fprintf(stderr, "usage:\n");
    for (const Command& c : commands()) {
        // A usage may hold several lines; each is indented alike.
        const std::string usage = c.usage;
        size_t start = 0;
        while (start <= usage.size()) {
            const size_t end = std::min(usage.find('\n', start), usage.size());
            std::fprintf(stderr, "  %s\n", usage.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    return kExitUsage;
}

}  // namespace kalvtool

int main(int argc, char** argv) {
    using namespace kalvtool;
    if (argc < 2) return usage_error("no command given");
    const std::string word = argv[1];
    if (word == "-h" || word == "--help" || word == "help") {
        usage_error("");
        return kExitOk;
    }
    for (const Command& c : commands()) {
        if (word != c.name) continue;
        try {
            return c.run(Args(argv + 2, argv + argc));
        } catch (const kalv::Error& e) {
            std::fprintf(stderr, "kalvtool %s: %s\n", c.name, e.what());
            return kExitFailure;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kalvtool %s: internal error: %s\n", c.name, e.what());
            return kExitFailure;
        }
    }
    return usage_error("unknown command '" + word + "'");
}
