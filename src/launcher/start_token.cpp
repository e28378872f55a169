// The start token's plain text and the start of the application.
#include <exception>

#include "launcher/boxes.h"
#include "launcher/run_log.h"
#include "launcher/ini_document.h"
#include "launcher/launcher.h"

namespace kalv::launcher {

namespace {

// The document is created under this name: a file of that name in the current
// directory gives its starting content. It is only read, never written.
constexpr const char* kDocumentName = "DummyFile";

std::string ReadWholeFile(platform::FileSystem& files, const std::string& path) {
    const std::unique_ptr<platform::FileHandle> file = files.open_file(path, platform::OpenMode::ReadShared);
    std::string content;
    char block[4096];
    while (const size_t n = file->read(block, sizeof block)) content.append(block, n);
    return content;
}

}  // namespace

std::string BuildStartToken(platform::FileSystem& files, const std::string& database_path) {
    IniDocument document;
    if (files.file_exists(kDocumentName)) document = IniDocument::parse(ReadWholeFile(files, kDocumentName));
    document.write_string("SECTION", "DBpath", database_path);
    return CommaText(document.lines());
}

void RunProgram(platform::Processes& processes, platform::UserInterface& ui, const std::string& command_line,
                const std::string& program_path) {
    const std::string text = "Can not start this program ";
    // The log names the program, never the command line: it holds the start token.
    try {
        const platform::OsStatus started = processes.start_program(command_line, program_path);
        runlog::Note("start " + program_path + ": " +
                     (started ? std::string("started") : "failed, code " + std::to_string(started.error().code)));
        if (!started) ShowErrorBox(ui, text, "ERROR");
    } catch (const std::exception& failure) {
        runlog::Note("start " + program_path + ": failed, " + failure.what());
        ShowErrorBox(ui, text, "ERROR");
        throw;
    }
}

}  // namespace kalv::launcher
