#include "platform/command_line.h"

#include "core/text.h"

namespace kalv::platform {

std::vector<std::string> split_command_line(const std::string& command_line) {
    std::vector<std::string> arguments;
    size_t pos = 0;
    const size_t n = command_line.size();
    while (true) {
        while (pos < n && is_blank(command_line[pos])) ++pos;
        if (pos >= n) break;
        std::string argument;
        bool quoted = false;
        for (; pos < n && (quoted || !is_blank(command_line[pos])); ++pos) {
            if (command_line[pos] == '"')
                quoted = !quoted;
            else
                argument += command_line[pos];
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

}  // namespace kalv::platform
