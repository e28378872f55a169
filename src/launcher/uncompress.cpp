// The launcher's unpack operation: one extraction component per call, one listed entry.
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "unzip/unzipper.h"

namespace kalv::launcher {

namespace {

// The run log's lines of each entry: size, CRC and time, or why it was left out.
void LogExtractions(platform::Processes& processes, unzip::UnZipper& unzipper) {
    auto started = std::make_shared<std::chrono::milliseconds>();
    unzipper.OnStartUnZip = [started, &processes](unzip::UnZipper&, int, const std::string&, bool&) {
        *started = processes.monotonic_time();
    };
    unzipper.OnEndUnZip = [started, &processes](unzip::UnZipper& z, int index, const std::string& name) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(z.Entry(index).Crc32));
        runlog::Note("extract " + name + ": " + std::to_string(z.Entry(index).UncompressedSize) + " bytes, CRC-32 " +
                     crc + ", " + std::to_string((processes.monotonic_time() - *started).count()) + " ms");
    };
    unzipper.OnSkippingFile = [](unzip::UnZipper&, unzip::SkipReason reason, const std::string& name, int) {
        runlog::Note("extract " + name + ": skipped, " + unzip::skip_reason_text(reason));
    };
    unzipper.OnBadCRC = [](unzip::UnZipper& z, uint32_t calculated, uint32_t stored, int index) {
        char crcs[40];
        std::snprintf(crcs, sizeof crcs, "CRC-32 %08X, expected %08X", static_cast<unsigned>(calculated),
                      static_cast<unsigned>(stored));
        runlog::Note("extract " + z.EntryName(index) + ": " + crcs);
    };
}

}  // namespace

bool UnCompress(const LauncherOs& os, const std::string& package_path, const std::string& dest_dir,
                const std::string& password, const std::string& entry_name) {
    // A missing package is reported by the caller, not here. Presence, not age: a
    // package dated before 1980 is still there to be read.
    if (!os.files.file_exists(package_path)) return false;
    const auto unzipper = std::make_unique<unzip::UnZipper>(os.files, os.processes, os.ui);
    try {
        // Everything else keeps the component's defaults: only listed entries, no
        // directories recreated, window messages handled while it works.
        unzipper->OverwriteMode = unzip::UZOverwriteMode::Always;
        unzipper->Password = password;
        unzipper->SetZipName(package_path);
        unzipper->SetDestDir(dest_dir);
        unzipper->SetRootDir(dest_dir);
        // The full path the entry will have once extracted, matched under RootDir.
        unzipper->FilesList.push_back(dest_dir + entry_name);
        LogExtractions(os.processes, *unzipper);
        const bool extracted = unzipper->UnZip() > 0;
        if (!extracted) runlog::Note("extract " + entry_name + " from " + package_path + ": nothing extracted");
        return extracted;
    } catch (const std::exception& failure) {
        ShowProblemBox(os.ui, "UnCompress", failure.what(), "UnCompress");
        return false;
    }
}

}  // namespace kalv::launcher
