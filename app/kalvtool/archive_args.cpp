#include "archive_args.h"

#include <cstdio>

#include "core/printable.h"

namespace kalvtool {

std::optional<ArchiveArgs> parse_archive_args(const Args& args, const std::string& options, const char* command) {
    ArchiveArgs parsed;
    bool options_done = false;
    auto refuse = [](const std::string& message) -> std::optional<ArchiveArgs> {
        usage_error(message);
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_done && a.size() > 1 && a[0] == '-') {
            const bool known = a.size() == 2 && options.find(a[1]) != std::string::npos;
            if (a == "--") {
                options_done = true;
            } else if (!known) {
                return refuse("unknown option " + a + " for " + command);
            } else if (a == "-r") {
                parsed.recreate_dirs = true;
            } else {
                if (i + 1 >= args.size()) return refuse("option " + a + " needs a value");
                const std::string& value = args[++i];
                if (a == "-P") {
                    parsed.password = value;
                } else if (a == "-d") {
                    parsed.dest = value;
                } else if (value == "always") {
                    parsed.overwrite = kalv::unzip::UZOverwriteMode::Always;
                } else if (value == "never") {
                    parsed.overwrite = kalv::unzip::UZOverwriteMode::Never;
                } else {
                    return refuse("-o takes always or never");
                }
            }
        } else if (parsed.archive.empty()) {
            // Options may follow the archive, as unzip takes them ("ARCHIVE -d DIR");
            // a pattern that begins with "-" comes after "--".
            parsed.archive = a;
        } else {
            parsed.patterns.push_back(a);
        }
    }
    if (parsed.archive.empty()) return refuse(std::string(command) + " needs an archive");
    return parsed;
}

void choose_entries(kalv::unzip::ExtractOptions& options, const std::vector<std::string>& patterns) {
    options.patterns = patterns;
    options.all = patterns.empty();
}

void StderrObserver::problem(int index, kalv::unzip::ZipProblem what) {
    const kalv::unzip::ZipHeaderInfo& entry = archive->entry(index);
    const std::string name = kalv::printable(entry.StoredPath());
    if (what == kalv::unzip::ZipProblem::UnknownMethod) {
        std::fprintf(stderr, "kalvtool %s: %s: %s (method %u)\n", command_, name.c_str(),
                     kalv::unzip::zip_problem_text(what), unsigned(entry.CompressionMethod));
    } else {
        std::fprintf(stderr, "kalvtool %s: %s: out of memory while decoding\n", command_, name.c_str());
    }
}

bool StderrObserver::next_disk(int disk, kalv::unzip::SpanMode mode, std::string& name) {
    if (mode != kalv::unzip::SpanMode::smRemovable) return Observer::next_disk(disk, mode, name);
    std::fprintf(stderr, "kalvtool %s: the archive goes on on disk %d of the multi-disk set; nobody is asked to insert it\n",
                 command_, disk);
    name.clear();
    return false;
}

std::unique_ptr<kalv::unzip::Archive> open_archive(kalv::platform::FileSystem& files, const std::string& path, StderrObserver& observer) {
    kalv::unzip::DirectoryOptions options;
    options.unlimited = true;  // an archive of any entry count
    auto archive = std::make_unique<kalv::unzip::Archive>(files, path);
    observer.archive = archive.get();
    archive->read(options, observer);
    return archive;
}

}  // namespace kalvtool
