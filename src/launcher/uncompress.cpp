// The launcher's unpack operation: one extraction component per call, one listed entry.
#include <exception>
#include <memory>

#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "unzip/unzipper.h"

namespace kalv::launcher {

bool UnCompress(const std::string& packagePath, const std::string& destDir, const std::string& password,
                const std::string& entryName) {
    // A missing package is reported by the caller, not here. Presence, not age: a
    // package dated before 1980 is still there to be read.
    if (!platform::current().file_exists(packagePath)) return false;
    const auto unzipper = std::make_unique<unzip::UnZipper>();
    try {
        // Everything else keeps the component's defaults: only listed entries, no
        // directories recreated, window messages handled while it works.
        unzipper->OverwriteMode = unzip::UZOverwriteMode::Always;
        unzipper->Password = password;
        unzipper->SetZipName(packagePath);
        unzipper->SetDestDir(destDir);
        unzipper->SetRootDir(destDir);
        // The full path the entry will have once extracted, matched under RootDir.
        unzipper->FilesList.push_back(destDir + entryName);
        return unzipper->UnZip() > 0;
    } catch (const std::exception& failure) {
        ShowProblemBox("UnCompress", failure.what(), "UnCompress");
        return false;
    }
}

}  // namespace kalv::launcher
