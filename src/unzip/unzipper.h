// UnZipper: the extraction component. It reads an archive's directory (end record,
// central directory, or a scan of local headers), chooses entries by FilesList
// patterns, checks passwords, hands each entry's data to its decoder through the
// decoder seam, writes the output, checks the CRC-32 and reports through events.
//
// Map of one UnZip:
//   OpenArchive ── ReadZip (only when the archive is new or changed on disk)
//   extraction pass: choose entries ── OnStartUnZipInfo ── per entry:
//     seek to local header ── target path (kept inside DestDir) ── password check
//     ── overwrite rule ── create "<name>.partial" ── decode ── flush to disk
//     ── CRC check (a mismatch deletes the partial file; a wrong password may retry)
//     ── date ── rename over the target in one step ── attributes
//     (Batched: the CRC-checked file waits; a batch is synced, then renamed)
//   CloseArchive
//
// Entry problems are not failures: they fire events and lower the count that UnZip
// returns. Failures (kalv::Error) end the operation; they never leave a partial
// output file behind, and never touch the file an entry would have replaced.
//
// The component's files, one job each:
//   unzipper.cpp       properties, open and close steps, directory readers, reset
//   zip_directory.cpp  end record (with the ZIP64 records), bytes in front of the
//                      archive, central directory, local-header scan, comments
//   split_archive.cpp  archives split over disks or numbered files
//   output_path.cpp    where an entry's file goes, kept inside DestDir
//   entry_streams.cpp  the entry's input (blocks, decryption, pumping) and output
//                      (blocks, size limit, CRC-32, percent events)
//   extraction.cpp     the extraction pass and the extraction of one entry
//   pending_files.cpp  finished entries that wait to be put in place together
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "unzip/buf_streams.h"
#include "unzip/decoder_io.h"
#include "unzip/zip_crypto.h"
#include "unzip/zip_entries.h"

namespace kalv::unzip {

enum class UZOverwriteMode { Prompt = 0, Always = 1, Never = 2 };

enum class IncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1 };

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
    // uses one of its names, and before a failure ends the pass; OnEndUnZip comes
    // when an entry is in place, so later than with PerEntry, in the same order.
    Batched = 1,
};

enum class SpanMode {
    smNone = 0,       // a single file
    smRemovable = 1,  // one disk per part on a removable drive
    smNumbered = 2,   // parts as numbered files: pack.001, pack.002, ...
};

enum class SkipReason {
    srBadPassword = 0,       // password check or CRC of an encrypted entry failed
    srNoOverwrite = 1,       // the output file exists and is not overwritten
    srOutsideDestDir = 2,    // the stored path would leave DestDir ("..", a root with no DestDir)
    srUnknownMethod = 3,     // no decoder for the entry's compression method
    srThroughLink = 4,       // a folder of the path inside DestDir is a link (a symlink, a junction)
    srSymbolicLink = 5,      // the entry is a Unix symbolic link: never made a file holding its target
    srAesEncrypted = 6,      // encrypted with WinZip AES (method 99), which has no decoder here
    srLinkOutsideDestDir = 7,  // a symbolic link whose target would lead out of DestDir
};

// A short English text for each reason (for command-line reports).
const char* skip_reason_text(SkipReason reason);

// Problems of the entry in hand that the component tells the user about, beside
// leaving the entry out.
enum class ZipProblem {
    UnknownMethod = 0,  // no decoder for the entry's compression method
    OutOfMemory = 1,    // the Deflate or Implode decoder could not allocate its tables
};

// The text of the box that reports a problem: "Unknown Compression Method",
// "*** inflate out of memory ***".
const char* zip_problem_text(ZipProblem problem);

class UnZipper {
public:
    static constexpr int kThisVersion = 217;
    static constexpr size_t kBlockSize = 16000;     // input and output blocks
    static constexpr size_t kWindowSize = 32780;    // 32768-byte window and slack
    static constexpr int64_t kEndSearchWindow = 0xFFF8;
    static constexpr int64_t kSelfExtractorSkip = 14000;  // where an SFX stub's archive may start
    // An entry is written beside its target under the target's name, a random tag and
    // this suffix, and renamed once it is good.
    static constexpr const char* kPartialSuffix = ".partial";

    UnZipper();
    ~UnZipper();
    UnZipper(const UnZipper&) = delete;
    UnZipper& operator=(const UnZipper&) = delete;

    // ---- properties ---------------------------------------------------------
    int ThisVersion() const { return kThisVersion; }

    const std::string& ZipName() const { return zip_name_; }
    // Discards the directory unless the new name equals the old one (letter case
    // ignored). A name ending in "?" lets the user choose the archive in a file-open
    // dialog; a cancel raises UserCanceled. Without a GUI (the POSIX build) every
    // "?" is answered as a cancel.
    void SetZipName(const std::string& name);

    const std::string& DestDir() const { return dest_dir_; }
    // Stored without one trailing delimiter. "?" lets the user choose the folder in
    // the folder browser (starting at DestDir, or the current directory); a cancel
    // raises UserCanceled.
    void SetDestDir(const std::string& dir);

    const std::string& RootDir() const { return root_dir_; }
    void SetRootDir(const std::string& dir);  // stored with a trailing delimiter

    // Takes effect at the next ReadZip.
    ZipSortMode SortMode = ZipSortMode::ByNone;
    bool RecreateDirs = false;
    // A component made in code asks (Prompt); callers that want Always set it.
    UZOverwriteMode OverwriteMode = UZOverwriteMode::Prompt;
    std::vector<std::string> FilesList;
    bool DoAll = false;
    kalv::unzip::IncompleteZipMode IncompleteZipMode = kalv::unzip::IncompleteZipMode::izAssumeMulti;
    bool KeepZipOpen = false;
    bool DoProcessMessages = true;
    bool RetainAttributes = true;
    bool CheckVolumeLabels = true;
    std::string Password;
    // PerEntry unless a caller extracts many entries (kalvtool extract).
    UZDurability Durability = UZDurability::PerEntry;
    // The directory's lists hold at most 65520 entries, as the object lists always
    // have; a tool that must read any archive (kalvtool) lifts the limit before the
    // directory is read.
    bool UnlimitedDirectory = false;
    // Symbolic-link entries (Unix mode S_IFLNK) become links where their target stays
    // inside DestDir, made once every file of the pass is in place, so no entry is
    // ever written through one; otherwise (and always on Windows) they are skipped.
    bool MakeLinks = false;
    // A test pass: every chosen entry is read, decrypted, decoded and CRC-checked as in
    // an extraction, and nothing is written, created or asked (like `unzip -t`).
    bool TestMode = false;

    // ---- events (each optional; Sender first) ---------------------------------
    std::function<void(UnZipper& sender, int NumFiles, int64_t TotalBytes, bool& StopNow)> OnStartUnZipInfo;
    std::function<void(UnZipper& sender, int FileIndex, const std::string& FName, bool& Skip)> OnStartUnZip;
    std::function<void(UnZipper& sender, int FileIndex, const std::string& FName)> OnEndUnZip;
    std::function<void(UnZipper& sender, int Percent)> OnFilePercentDone;
    std::function<void(UnZipper& sender, int Percent)> OnTotalPercentDone;
    std::function<void(UnZipper& sender, bool& OverWriteIt, int FileIndex, std::string& FName)> OnPromptForOverwrite;
    std::function<void(UnZipper& sender, SkipReason Reason, const std::string& FName, int FileIndex)> OnSkippingFile;
    std::function<void(UnZipper& sender, int FileIndex, std::string& NewPassword)> OnBadPassword;
    std::function<void(UnZipper& sender, uint32_t CalcCRC, uint32_t StoredCRC, int FileIndex)> OnBadCRC;
    std::function<void(UnZipper& sender, kalv::unzip::IncompleteZipMode& IncompleteMode)> OnInCompleteZip;
    // Installed by the constructor: numbered parts (pack.003), or a disk prompt for
    // removable media (OnInsertDisk).
    std::function<void(UnZipper& sender, int NextDisk, std::string& FName)> OnGetNextDisk;
    // A problem of entry FileIndex, reported by the handler. Without one the component
    // shows its box with zip_problem_text, an OK button and no icon, captioned "Zip
    // Error" (UnknownMethod; none in a test pass) or "Error" (OutOfMemory).
    std::function<void(UnZipper& sender, ZipProblem Problem, int FileIndex)> OnZipProblem;
    // The built-in OnGetNextDisk's question on a removable drive, answered by the
    // handler (Cancel: no disk comes, and UnZip fails with UserCanceled). Without one
    // the component asks "Please insert disk N of the multi-disk set." in a box with
    // OK and Cancel, captioned "Confirm".
    std::function<void(UnZipper& sender, int NextDisk, bool& Cancel)> OnInsertDisk;

    // What the check of the entry in hand found, so that a report can tell why it
    // failed: an encrypted entry whose data fails is skipped as srBadPassword whether
    // the password or the data is wrong. Read it inside that entry's OnSkippingFile,
    // OnBadCRC or OnEndUnZip.
    struct EntryCheck {
        bool decoded = false;  // past the password check and through its decoder
        DecodeStatus status = DecodeStatus::Done;
        uint32_t computed_crc = 0;
    };
    const EntryCheck& LastEntryCheck() const { return last_check_; }

    // ---- operations ------------------------------------------------------------
    // Extracts the chosen entries; returns how many were extracted.
    int UnZip();

    // The open step: opens the archive and (re)reads its directory when needed.
    void OpenArchive();
    // The close step: closes the archive unless KeepZipOpen.
    void CloseArchive();

    int EntryCount() const;
    const ZipHeaderInfo& Entry(int index) const;  // in SortedView order
    std::string EntryName(int index) const;
    std::string EntryComment(int index);
    std::string ArchiveComment();
    void SetEntryComment(int index, const std::string& text);
    void SetArchiveComment(const std::string& text);

    const EndCentral& EndRecord() const { return end_record_; }
    kalv::unzip::SpanMode SpanMode() const { return span_mode_; }
    int CurrentDisk() const { return current_disk_; }
    bool LocalScanned() const { return local_scanned_; }
    // The bytes in front of the archive that its offsets do not count (a
    // self-extractor's stub prepended without `zip -A`), added to every offset read;
    // Info-ZIP unzip's "extra bytes at beginning". 0 for an ordinary archive.
    uint64_t PrefixBytes() const { return prefix_bytes_; }

    // ---- the directory (normally reached through OpenArchive) ---------------------
    void ReadZip();
    void ApplySortMode(ZipSortMode mode);
    void ResetDirectory();
    // Opens part n (counted from 1) of a split archive in place of the current one.
    void ChangeDisk(int n);

private:
    friend class EntryInput;
    friend class EntryOutput;

    // The handler the constructor installs, told apart from a caller's by its type.
    struct BuiltInNextDisk {
        UnZipper* z;
        void operator()(UnZipper&, int next_disk, std::string& name) const { z->built_in_next_disk(next_disk, name); }
    };

    void free_directory();
    void check_index(int index) const;

    // The directory (zip_directory.cpp).
    bool FindEndCentral();
    // Completes the end record found at `end_at` from the ZIP64 records in front of it.
    bool read_zip64_end(int64_t end_at);
    std::optional<Zip64EndOfCentralDirectoryRecord> zip64_end_record_at(uint64_t at, uint64_t locator_at);
    // The bytes in front of the archive that its offsets leave out (see zip_directory.cpp).
    uint64_t prefix_before_directory(uint64_t directory_end);
    bool directory_at(uint64_t recorded_start, uint64_t prefix);
    bool signature_at(uint64_t at, uint32_t signature);
    // ReadZip's work; ReadZip resets the directory when it raises BadZip64.
    void read_directory();
    // Raises BadZip64 for an entry with ZIP64 values that this archive cannot hold.
    void refuse_zip64_entry(const ZipHeaderInfo& entry, int64_t archive_size) const;
    std::unique_ptr<SortedZip> new_entry_list() const;
    bool ScanLocalHeaders();
    // Read the comments from the open archive into the entry or the end record.
    std::string load_entry_comment(ZipHeaderInfo& entry);
    std::string load_archive_comment();

    // Split archives (split_archive.cpp).
    kalv::unzip::SpanMode span_mode_of_archive() const;
    void built_in_next_disk(int next_disk, std::string& name);

    // The extraction pass (extraction.cpp); the output path (output_path.cpp).
    int extraction_pass();
    void refuse_overlapping_entries() const;
    // Extracts entry `index`; returns whether it asks to be extracted again.
    bool extract_entry(int index, int& count);
    // Its steps, in their order (extraction.cpp).
    void seek_entry_data(ZipHeaderInfo& entry);
    bool may_overwrite(int index, std::string& path);
    platform::TemporaryFile create_partial(const std::string& path);
    bool failed_entry(int index, uint32_t crc, int& count);
    // Gives the finished file its date and attributes through its handle.
    void apply_stored_metadata(platform::FileHandle& file) const;
    void put_in_place(const std::string& path, platform::TemporaryFile partial);
    bool check_password(int index);
    void report_problem(ZipProblem problem, int index);
    uint8_t CheckHeader(const std::string& password);
    // The folder the entry goes to, with its delimiter; nullopt (and why in `refused`)
    // when its stored path would leave DestDir or pass through a link below it.
    std::optional<std::string> target_directory(const ZipHeaderInfo& entry, SkipReason& refused);
    // Batched durability (pending_files.h): the waiting entries put in place with
    // their attributes and OnEndUnZip; a failure is raised after the events of the
    // entries that did get in place.
    void publish_pending();
    // The same on the way out of a failed pass; a failure of its own is dropped, so
    // that the pass's failure is the one reported.
    void publish_pending_after_failure() noexcept;
    // Queues the finished, CRC-checked entry in hand (Batched); a full batch is put
    // in place.
    void queue_finished(int index, const std::string& path, platform::TemporaryFile partial);
    // The links of the pass, made at its end (MakeLinks).
    struct DeferredLink {
        int index;
        std::string path, target;
    };
    bool link_stays_inside(const std::string& path, const std::string& target) const;
    void make_links();
    std::vector<DeferredLink> links_;
    // Runs the entry's decoder into `output`; nullopt when its method has none.
    std::optional<DecodeStatus> decode(class EntryOutput& output, int index);

    std::string zip_name_;
    std::string dest_dir_;
    std::string root_dir_;

    // The directory.
    std::unique_ptr<SortedZip> entry_list_;   // owns the entries, ByNone order
    std::unique_ptr<SortedZip> sorted_view_;  // a separate view; none when ByNone
    EndCentral end_record_;
    std::unique_ptr<BufferedStream> archive_;
    std::optional<int64_t> archive_date_;
    bool directory_read_ = false;
    bool local_scanned_ = false;
    uint64_t prefix_bytes_ = 0;
    int current_disk_ = 0;
    kalv::unzip::SpanMode span_mode_ = kalv::unzip::SpanMode::smNone;

    // Per extraction.
    ZipHeaderInfo work_entry_;
    EntryCheck last_check_;
    ZipKeys keys_;
    int64_t total_bytes_ = 0;
    int64_t total_done_ = 0;
    std::vector<uint8_t> window_;
    std::vector<uint8_t> input_block_;
    std::vector<uint8_t> output_block_;
    std::unique_ptr<class PendingFiles> pending_;

    SortedZip& view() const { return sorted_view_ ? *sorted_view_ : *entry_list_; }
};

}  // namespace kalv::unzip
