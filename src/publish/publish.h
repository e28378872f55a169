// Making a package and putting it in place so that no launcher ever sees half of it.
//
//   open FILE ── write the package beside TARGET under a temporary name ── flush it
//   ── date it after the package it replaces ── read it back with the launcher's own
//   extraction component (decrypt, inflate, CRC-32) ── rename it over TARGET in one step
//
// Any failure deletes the temporary file and leaves TARGET as it was.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "publish/package_writer.h"
#include "publish/publish_lock.h"

namespace kalv::publish {

struct PublishOptions {
    std::string entry_name;
    std::string password;
    int level = 9;
    // Launchers fetch an upgrade copy only when its file age is greater than their
    // own copy's, which has the date of the package it was copied from. With this,
    // the new package is dated at least one step (2 s) after the one it replaces.
    // (Publishing also holds the target's lock meanwhile: see publish_lock.h.)
    bool newer_than_replaced = true;
    std::chrono::milliseconds longest_lock_wait = kLongestLockWait;
    // Given the package once written and flushed beside the target, before it is dated
    // and read back (signing: a signature inside the package, kalvtool --key). A
    // failure it throws fails the publish like any other.
    std::function<void(const std::string& package)> seal;
};

struct PublishResult {
    PackageInfo package;
    int32_t age = -1;             // TARGET's file age once in place (DOS form, local time)
    bool ahead_of_clock = false;  // the replaced package was dated well ahead of this clock
    int rename_waits = 0;
    bool windows_program = true;  // the program starts with an MZ header and a PE signature
};

// What the first bytes of a program tell (the file's, or a package's entry's).
struct ProgramFacts {
    uint64_t size = 0;
    bool zip = false;              // it begins with a ZIP record's signature (APPNOTE 4.3.6)
    bool windows_program = false;  // "MZ", and "PE\0\0" where e_lfanew points (PE/COFF 3.1)
};
ProgramFacts read_program_facts(platform::FileHandle& file);

// Why `facts` cannot be the program that launchers unpack and start (it is empty, or a
// ZIP archive), with what to do (`remedy`, or the advice for a program given to
// publish); empty when it can. `name` says what was looked at.
std::string program_refusal(const ProgramFacts& facts, const std::string& name, const std::string& remedy = {});

// Throws Error (a FileStreamError for FILE or the temporary file that cannot be
// opened or written), naming the file and the reason; FILE that is empty or a ZIP
// archive, and a TARGET that is FILE itself, are refused before anything is written.
PublishResult publish_package(platform::Platform& os, const std::string& file, const std::string& target,
                              const PublishOptions& options);

// Extracts `entry_name` of `package` with `password` into a scratch folder of its own
// (removed again) and tells what its first bytes are. Throws Error when the entry does
// not read back (missing, wrong password, CRC-32).
ProgramFacts inspect_entry(platform::FileSystem& files, const std::string& package, const std::string& entry_name,
                           const std::string& password);

// Puts a program package made elsewhere in place of `target` the same way: copied
// beside it, flushed, dated after it, checked as a launcher checks a fetched copy (its
// entry decrypts with the package password and passes its CRC-32) and, beyond that,
// its entry must be a program (program_refusal), then renamed over it.
PublishResult publish_made_package(platform::Platform& os, const std::string& package, const std::string& target,
                                   const PublishOptions& options);

// The name beside `target` that a package is written under first.
std::string temporary_name(const std::string& target);

}  // namespace kalv::publish
