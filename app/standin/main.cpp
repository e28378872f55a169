// Kalvo3main, the stand-in application: what the launcher starts in demos and tests in
// place of the real application. It fixes the two points the launcher relies on: it
// holds the mutex "KalvMutexName" while it runs, and it takes the start token as its
// first argument. It writes what it received to a report beside itself:
//
//   command line: <the raw command line>
//   token: <first argument>
//   plain text: <the token decrypted, without its zero fill>
//   DBpath: <the DBpath value of the plain text>
//   second argument: <the launcher's own first argument, if any>
//
// With KALV_STANDIN_STAY_SECONDS=N it keeps the mutex up to N seconds first (the
// "already running" situation): a file "<report>.holding" tells when it holds it, and a
// file "<report>.release" that someone puts beside it ends the wait early.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cipher/text_cipher.h"
#include "core/errors.h"
#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace {

constexpr const char* kReportName = "Kalvo3main.report.txt";

std::string directory_of(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// The arguments after the program. The launcher does not quote the program's path, so
// a path with blanks would split into several arguments by the usual rules; the
// program's own full path at the front of the command line is therefore taken whole.
std::vector<std::string> arguments_after_program(const std::string& raw, const std::string& own_path) {
    if (!own_path.empty() && raw.compare(0, own_path.size(), own_path) == 0)
        return kalv::platform::split_command_line(raw.substr(own_path.size()));
    std::vector<std::string> all = kalv::platform::split_command_line(raw);
    if (!all.empty()) all.erase(all.begin());
    return all;
}

// The elements of comma text, with quoted elements unquoted (inner quotes undoubled).
std::vector<std::string> comma_elements(const std::string& text) {
    std::vector<std::string> elements;
    size_t pos = 0;
    while (pos <= text.size()) {
        std::string element;
        if (pos < text.size() && text[pos] == '"') {
            ++pos;
            while (pos < text.size()) {
                if (text[pos] == '"' && pos + 1 < text.size() && text[pos + 1] == '"') {
                    element += '"';
                    pos += 2;
                } else if (text[pos] == '"') {
                    ++pos;
                    break;
                } else {
                    element += text[pos++];
                }
            }
        }
        const size_t comma = text.find(',', pos);
        element += text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        elements.push_back(element);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return elements;
}

std::string db_path_of(const std::string& plain) {
    for (const std::string& element : comma_elements(plain))
        if (element.size() >= 7 && (element.compare(0, 7, "DBpath=") == 0 || element.compare(0, 7, "dbpath=") == 0))
            return element.substr(7);
    return {};
}

bool file_exists(const std::string& path) { return std::ifstream(path).good(); }

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace

int main() {
    kalv::platform::Platform& os = kalv::platform::native();
    std::unique_ptr<kalv::platform::HeldMutex> mutex = kalv::platform::hold_mutex("KalvMutexName");
    // A Windows program is ready for input once it looks at its message queue; the
    // launcher's start waits for that.
    os.process_messages();

    const std::string own_path = os.module_path();
    const std::string report = directory_of(own_path) + kReportName;
    if (const char* stay = std::getenv("KALV_STANDIN_STAY_SECONDS")) {
        write_file(report + ".holding", mutex ? "holding\n" : "mutex not held\n");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(stay));
        while (std::chrono::steady_clock::now() < until && !file_exists(report + ".release"))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const std::string raw = kalv::platform::raw_command_line();
    const std::vector<std::string> arguments = arguments_after_program(raw, own_path);
    const std::string token = arguments.size() > 0 ? arguments[0] : "";
    const std::string second = arguments.size() > 1 ? arguments[1] : "";
    std::string plain;
    try {
        plain = kalv::DecryptText(token);
    } catch (const kalv::Error& failure) {
        plain = std::string("(cannot decrypt: ") + failure.what() + ")";
    }
    plain = plain.substr(0, plain.find('\0'));

    // The mutex is let go before the report appears, so that whoever waits for the
    // report may start the launcher again at once.
    mutex.reset();
    const std::string text = "command line: " + raw + "\ntoken: " + token + "\nplain text: " + plain +
                             "\nDBpath: " + db_path_of(plain) + "\nsecond argument: " + second + "\n";
    write_file(report + ".part", text);
    std::remove(report.c_str());
    std::rename((report + ".part").c_str(), report.c_str());
    return 0;
}
