// UnZipper: the extraction component as the launcher and its callers know it, with
// its properties and events. It is a facade over the extraction core: an operation
// opens the archive (archive.h, its directory kept between operations and re-read
// when the file changed), fills ExtractOptions from the properties and runs extract()
// (extract.h) with an observer that turns what the core tells into the events, and
// into the component's boxes, dialogs and cursors where no handler answers. Below it
// nothing shows anything.
//
//   UnZip ── OpenArchive ── extract(archive, options, Events) ── CloseArchive
//
// Entry problems are not failures: they fire events and lower the count that UnZip
// returns. Failures (kalv::Error) end the operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "unzip/archive.h"
#include "unzip/extract.h"
#include "unzip/zip_crypto.h"

namespace kalv::unzip {

class UnZipper {
public:
    static constexpr int kThisVersion = 217;
    static constexpr int64_t kEndSearchWindow = Archive::kEndSearchWindow;
    static constexpr int64_t kSelfExtractorSkip = Archive::kSelfExtractorSkip;

    // The component works with the OS it is given: the file system for the archive and
    // what it writes, the user face for its boxes, dialogs and cursor, the process for
    // the current folder a "?" folder dialog starts in.
    UnZipper(platform::FileSystem& files, platform::Processes& processes, platform::UserInterface& ui);
    explicit UnZipper(platform::Platform& os) : UnZipper(os, os, os) {}
    ~UnZipper();
    UnZipper(const UnZipper&) = delete;
    UnZipper& operator=(const UnZipper&) = delete;

    // ---- properties ---------------------------------------------------------
    int ThisVersion() const { return kThisVersion; }

    const std::string& ZipName() const { return archive_ ? archive_->name() : zip_name_; }
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
    // Beyond the component's own properties, the core's options of the same names
    // (extract.h, archive.h), handed on as they are: the durability of the files, the
    // directory's size limit, links, and a test pass that writes and asks nothing.
    UZDurability Durability = UZDurability::PerEntry;
    bool UnlimitedDirectory = false;
    bool MakeLinks = false;
    bool TestMode = false;
    UZThreading Threading = UZThreading::Auto;

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
    using EntryCheck = kalv::unzip::EntryCheck;
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

    const EndCentral& EndRecord() const;
    kalv::unzip::SpanMode SpanMode() const;
    int CurrentDisk() const { return archive_ ? archive_->current_disk() : 0; }
    bool LocalScanned() const { return archive_ && archive_->local_scanned(); }
    // See Archive::prefix_bytes.
    uint64_t PrefixBytes() const { return archive_ ? archive_->prefix_bytes() : 0; }

    // ---- the directory (normally reached through OpenArchive) ---------------------
    void ReadZip();
    void ApplySortMode(ZipSortMode mode);
    void ResetDirectory();
    // Opens part n (counted from 1) of a split archive in place of the current one.
    void ChangeDisk(int n);

private:
    class Events;

    // The handler the constructor installs, told apart from a caller's by its type.
    struct BuiltInNextDisk {
        UnZipper* z;
        void operator()(UnZipper&, int next_disk, std::string& name) const { z->built_in_next_disk(next_disk, name); }
    };
    void built_in_next_disk(int next_disk, std::string& name);

    DirectoryOptions directory_options() const;
    ExtractOptions extract_options() const;

    platform::FileSystem& files_;
    platform::Processes& processes_;
    platform::UserInterface& ui_;
    std::string zip_name_;
    std::string dest_dir_;
    std::string root_dir_;
    std::unique_ptr<Archive> archive_;  // the directory and the open archive; none before OpenArchive
    EntryCheck last_check_;
};

}  // namespace kalv::unzip
