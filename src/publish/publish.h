// Making a package and putting it in place so that no launcher ever sees half of it.
//
//   open FILE ── write the package beside TARGET under a temporary name ── flush it
//   ── date it after the package it replaces ── read it back with the launcher's own
//   extraction component (decrypt, inflate, CRC-32) ── rename it over TARGET in one step
//
// Any failure deletes the temporary file and leaves TARGET as it was.
#pragma once

#include <cstdint>
#include <string>

#include "publish/package_writer.h"

namespace kalv::publish {

struct PublishOptions {
    std::string entry_name;
    std::string password;
    int level = 9;
    // Launchers fetch an upgrade copy only when its file age is greater than their
    // own copy's, which has the date of the package it was copied from. With this,
    // the new package is dated at least one step (2 s) after the one it replaces.
    bool newer_than_replaced = true;
};

struct PublishResult {
    PackageInfo package;
    int32_t age = -1;             // TARGET's file age once in place (DOS form, local time)
    bool ahead_of_clock = false;  // the replaced package was dated well ahead of this clock
    int rename_waits = 0;
};

// Throws Error (a FileStreamError for FILE or the temporary file that cannot be
// opened or written), naming the file and the reason.
PublishResult publish_package(const std::string& file, const std::string& target, const PublishOptions& options);

// The name beside `target` that a package is written under first.
std::string temporary_name(const std::string& target);

}  // namespace kalv::publish
