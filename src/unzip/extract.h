// The extraction core: the chosen entries of an opened Archive extracted with plain
// inputs (ExtractOptions), everything that happens told to one Observer, which also
// answers the questions (overwrite, another password, the next disk). It shows no
// box, dialog or cursor: the component's are its facade's (unzipper.h), a tool's
// stderr lines its own.
//
// Map of one extract():
//   choose entries (patterns, or all) ── Observer::starting ── per entry:
//     local header ── target path (kept inside the destination) ── password check
//     ── overwrite rule ── "<name>.<random>.partial" ── decode ── CRC check
//     (a mismatch deletes the partial file; an encrypted entry may be retried with
//     another password, from its local header) ── date, attributes ── sync
//     ── rename over the target in one step (Batched: queued, synced in batches)
//   links made at the end of the pass
//
// Entry problems are not failures: they go to the observer and lower the count that
// extract() returns. Failures (kalv::Error) end the pass; they never leave a partial
// output file behind, and never touch the file an entry would have replaced.
//
// The core's files:
//   extraction.cpp     the pass, the extraction of one entry, its verdict and its
//                      file finished (or queued for its batch)
//   entry_checks.cpp   the steps of one entry: local header, refusals, password,
//                      overwrite, decoding, the output file, links
//   entry_streams.cpp  the entry's input (blocks, decryption) and output (blocks,
//                      size limit, CRC-32, progress)
//   decrypt_ahead.cpp  an encrypted entry read and decrypted on a helper thread, a
//                      few runs ahead of its decoder (UZThreading); every event
//                      stays on the caller's thread
//   output_path.cpp    where an entry's file goes, kept inside the destination
//   pending_files.cpp  finished entries that wait to be put in place together
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "unzip/archive.h"
#include "unzip/decoder_io.h"

namespace kalv::unzip {

enum class UZOverwriteMode { Prompt = 0, Always = 1, Never = 2 };

// When an extracted file reaches the disk and its name. Either way no target name is
// ever given to data that is not on the disk: a power cut leaves the old file or the
// new one.
enum class UZDurability {
    // Each entry is synced and renamed into place before the next one begins: the
    // launcher's two entries (the program and its database) are each whole on the
    // disk the moment they are reported.
    PerEntry = 0,
    // Finished entries wait, as CRC-checked temporary files, and are synced together,
    // then renamed in entry order: one wait for the disk per batch instead of one per
    // entry, for the many small files of an administrator's bulk extraction. A batch
    // is put in place when it is full, at the end of the pass, before a later entry
    // uses one of its names, and before a failure ends the pass; Observer::extracted
    // comes when an entry is in place, so later than with PerEntry, in the same order.
    Batched = 1,
};

// Whether an encrypted entry is decrypted on a second core while the caller decodes
// it (decrypt_ahead.h). Either way the events, their order and the files are the same.
enum class UZThreading {
    Auto = 0,  // as the process was told (set_process_threading), else with 2 cores or more
    Off = 1,   // one thread, the caller's
    On = 2,    // every encrypted entry of an archive that is not split, however small
};

// What Auto means in this process: a program entry sets it once, before any pass,
// from KALV_THREADS (threading_from_text), so that the same program runs either way.
void set_process_threading(UZThreading threading);
// "0" Off, "1" On, "auto" Auto; nullopt for anything else or no text.
std::optional<UZThreading> threading_from_text(const char* text);

enum class SkipReason {
    srBadPassword = 0,       // password check or CRC of an encrypted entry failed
    srNoOverwrite = 1,       // the output file exists and is not overwritten
    srOutsideDestDir = 2,    // the stored path would leave DestDir ("..", a root with no DestDir)
    srUnknownMethod = 3,     // no decoder for the method: a tool's word for such a failed entry
    srThroughLink = 4,       // a folder of the path inside DestDir is a link (a symlink, a junction)
    srSymbolicLink = 5,      // the entry is a Unix symbolic link: never made a file holding its target
    srAesEncrypted = 6,      // encrypted with WinZip AES (method 99), which has no decoder here
    srLinkOutsideDestDir = 7,  // a symbolic link whose target would lead out of DestDir
};

// A short English text for each reason (for command-line reports).
const char* skip_reason_text(SkipReason reason);

// Problems of the entry in hand that the user is told about, beside leaving it out.
enum class ZipProblem {
    UnknownMethod = 0,  // no decoder for the entry's compression method
    OutOfMemory = 1,    // the Deflate or Implode decoder could not allocate its tables
};

// The text of the box that reports a problem: "Unknown Compression Method",
// "*** inflate out of memory ***".
const char* zip_problem_text(ZipProblem problem);

// What the check of an entry found, so that a report can tell why it failed: an
// encrypted entry whose data fails is skipped as srBadPassword whether the password
// or the data is wrong.
struct EntryCheck {
    bool decoded = false;  // past the password check and through its decoder
    DecodeStatus status = DecodeStatus::Done;
    uint32_t computed_crc = 0;
    bool method_known = true;  // false: no decoder, nothing decoded (the CRC of nothing is 0)
};

struct ExtractOptions {
    std::string destination;  // "" is the current directory; kept without a trailing delimiter
    std::string root;         // removed from stored folders (RecreateDirs); empty or with its delimiter
    // Lines matched by their last path component against each entry's whole stored
    // path (wild_match.h); every entry with `all`.
    std::vector<std::string> patterns;
    bool all = false;
    bool recreate_dirs = false;
    UZOverwriteMode overwrite = UZOverwriteMode::Prompt;
    std::string password;  // of traditionally encrypted entries (APPNOTE 6.1)
    UZDurability durability = UZDurability::PerEntry;
    bool retain_attributes = true;
    // Symbolic-link entries (Unix mode S_IFLNK) become links where their target stays
    // inside the destination, made once every file of the pass is in place, so no
    // entry is ever written through one; otherwise (and always on Windows) skipped.
    bool make_links = false;
    // A test pass: every chosen entry is read, decrypted, decoded and CRC-checked as
    // in an extraction, and nothing is written, created or asked (like `unzip -t`).
    bool test_only = false;
    // An entry whose method has no decoder is judged as one that decoded to nothing:
    // its CRC (0) against the stored one, so that one stored with CRC 0 is extracted
    // as an empty file, as the component always did. Without it such an entry fails.
    bool judge_undecoded_by_crc = false;
    UZThreading threading = UZThreading::Auto;
    // The observer asks and answers nothing in this pass: it never skips an entry in
    // entry_starting, never gives another password, and the overwrite rule is not
    // Prompt. Then, with threading on and an archive that is not split, entries of
    // distinct names that lie in index order are extracted several at once, their
    // data read in that order; each entry's events are told on the caller's thread,
    // all of them in entry order as one thread would tell them. Links and recreated
    // folders keep the pass on one thread.
    bool answers_nothing = false;
};

// Everything extract() and Archive::read() tell, and the questions they ask. Each
// has a default: nothing told, every question answered "no", numbered parts of a
// split archive named by the rule numbered_part_name. Indexes are those of the
// archive's sort order (its physical order for a split archive).
class Observer {
public:
    virtual ~Observer() = default;

    // ---- reading the archive ----
    // A moment for window messages: before each compressed input block and every
    // 10240 bytes of a local-header scan.
    virtual void keep_alive() {}
    // The local-header scan begins (true) and ends (false).
    virtual void scanning(bool /*begins*/) {}
    // No end record: what to do, starting from the options' mode.
    virtual IncompleteZipMode incomplete_archive(IncompleteZipMode mode) { return mode; }
    // The name of part `disk` (from 1) of a split archive in `name`, which holds the
    // name last tried; emptied to cancel. Returns whether asking again may bring
    // another name (a person at a drive, a caller's own handler): a named part that
    // is not there then asks again instead of failing the archive.
    virtual bool next_disk(int disk, kalv::unzip::SpanMode mode, std::string& name);
    // Whether an entry's data that a part ends in the middle of goes on in the next
    // part; otherwise the entry is cut short (FatalUnzipError).
    virtual bool reads_on_next_part() const { return true; }

    // ---- the pass ----
    // Once, after the choice: how many entries, their bytes; `stop` ends the pass.
    virtual void starting(int /*entries*/, int64_t /*total_bytes*/, bool& /*stop*/) {}
    // Per entry, before its data is decoded (path: its output file); `skip` leaves
    // it out, uncounted. For a folder entry (recreate_dirs), its folder; `skip` unused.
    virtual void entry_starting(int /*index*/, const std::string& /*path*/, bool& /*skip*/) {}
    // Per written block: the entry's percent and the pass's.
    virtual void progress(int /*file_percent*/, int /*total_percent*/) {}
    // The entry is in place at `path` (a test pass: it passed its checks).
    virtual void extracted(int /*index*/, const std::string& /*path*/, const EntryCheck&) {}
    // The entry is left out (`stored_path`: its stored directory and name).
    virtual void skipped(int /*index*/, SkipReason, const std::string& /*stored_path*/, const EntryCheck&) {}
    // An unencrypted entry failed its CRC check or its decoder gave up.
    virtual void failed(int /*index*/, const EntryCheck&, uint32_t /*stored_crc*/) {}
    // An entry's problem (no decoder, a decoder out of memory) as it happens.
    virtual void problem(int /*index*/, ZipProblem) {}
    // Whether the existing file at `path` is overwritten (OverwriteMode Prompt); the
    // answer may name another path.
    virtual bool overwrite(int /*index*/, std::string& /*path*/) { return false; }
    // The password `tried` failed an encrypted entry (its header check, or after its
    // data its CRC): another one to try the entry with, from its local header, or
    // none. A new password stays for the rest of the pass.
    virtual std::optional<std::string> other_password(int /*index*/, const std::string& /*tried*/) {
        return std::nullopt;
    }
};

// The name of part `disk` of a split archive of numbered files: `name` with the
// extension ".NNN" (pack.zip -> pack.003 for disk 3).
std::string numbered_part_name(const std::string& name, int disk);

// Extracts the chosen entries of `archive` (its directory read) through `os`;
// returns how many were extracted (tested, in a test pass).
int extract(platform::FileSystem& os, Archive& archive, const ExtractOptions& options, Observer& observer);

}  // namespace kalv::unzip
