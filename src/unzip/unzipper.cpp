// The component itself: its properties and their setters, the open and close
// steps, the readers of the directory it holds, and its reset. The directory is read
// in zip_directory.cpp, split archives are followed in split_archive.cpp, and the
// extraction pass is in extraction.cpp.
#include "unzip/unzipper.h"

#include "core/errors.h"
#include "unzip/pending_files.h"
#include "unzip/unzipper_internal.h"

namespace kalv::unzip {

const char* skip_reason_text(SkipReason reason) {
    switch (reason) {
        case SkipReason::srBadPassword: return "bad password";
        case SkipReason::srNoOverwrite: return "exists, not overwritten";
        case SkipReason::srOutsideDestDir: return "path leaves the destination directory";
        case SkipReason::srUnknownMethod: return "unknown compression method";
        case SkipReason::srThroughLink: return "path goes through a symbolic link or junction";
        case SkipReason::srSymbolicLink: return "a symbolic link: not extracted";
        case SkipReason::srAesEncrypted: return "encrypted with AES: not supported";
        case SkipReason::srLinkOutsideDestDir: return "a symbolic link leading out of the destination: not extracted";
    }
    return "skipped";
}

const char* zip_problem_text(ZipProblem problem) {
    switch (problem) {
        case ZipProblem::UnknownMethod: return "Unknown Compression Method";
        case ZipProblem::OutOfMemory: return "*** inflate out of memory ***";
    }
    return "";
}

UnZipper::UnZipper() : pending_(std::make_unique<PendingFiles>()) {
    OnGetNextDisk = BuiltInNextDisk{this};
}

UnZipper::~UnZipper() {
    ResetDirectory();
    keys_.Wipe();
}

// ---- the "?" forms: the user chooses the archive or the destination -------------

namespace {

constexpr const char* kOpenZipTitle = "Open a Zip File";
constexpr const char* kOpenZipFilter =
    "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*";
#ifdef _WIN32
constexpr const char* kFallbackDialogFolder = "C:\\";
#else
constexpr const char* kFallbackDialogFolder = "/";
#endif

// A name ending in "?" asks for the archive, starting in the name's own folder when
// that exists. A platform without a user answers as a cancel.
std::string ask_for_zip_name(const std::string& name) {
    const std::string own = name.substr(0, name.size() - file_name_part(name).size());
    const std::string folder = os().directory_exists(own) ? own : std::string(kFallbackDialogFolder);
    std::optional<std::string> chosen = os().choose_open_file(kOpenZipTitle, kOpenZipFilter, folder);
    if (!chosen) throw UserCanceled("User canceled setting zip file name.");
    return *chosen;
}

std::string ask_for_dest_dir(const std::string& current) {
    const std::string start = os().directory_exists(current) ? current : os().current_directory();
    std::optional<std::string> chosen = os().choose_folder(start);
    if (!chosen) throw UserCanceled("User canceled Set Desination Directory");
    return *chosen;
}

}  // namespace

void UnZipper::SetZipName(const std::string& value) {
    if (same_text_ignoring_case(value, zip_name_)) return;
    const std::string name = !value.empty() && value.back() == '?' ? ask_for_zip_name(value) : value;
    zip_name_ = name;
    free_directory();
    end_record_.Clear();
    archive_date_.reset();
    archive_.reset();
    local_scanned_ = false;
}

void UnZipper::SetDestDir(const std::string& dir) {
    dest_dir_ = dir == "?" ? ask_for_dest_dir(dest_dir_) : dir;
    if (!dest_dir_.empty() && dest_dir_.back() == kPathDelimiter) dest_dir_.pop_back();
}

void UnZipper::SetRootDir(const std::string& dir) {
    root_dir_ = dir;
    if (!root_dir_.empty() && root_dir_.back() != kPathDelimiter) root_dir_ += kPathDelimiter;
}

void UnZipper::free_directory() {
    sorted_view_.reset();
    entry_list_.reset();
    directory_read_ = false;
    prefix_bytes_ = 0;
}

void UnZipper::ResetDirectory() {
    archive_.reset();
    free_directory();
    end_record_.Clear();
    local_scanned_ = false;
    archive_date_.reset();
    span_mode_ = kalv::unzip::SpanMode::smNone;
    zip_name_.clear();
}

int UnZipper::EntryCount() const { return entry_list_ ? entry_list_->count() : 0; }

void UnZipper::check_index(int index) const {
    if (index < 0 || index >= EntryCount()) throw ListError("Index " + std::to_string(index) + " is out of range");
}

const ZipHeaderInfo& UnZipper::Entry(int index) const {
    check_index(index);
    return *view().item(index);
}

std::string UnZipper::EntryName(int index) const { return Entry(index).FileName(); }

std::string UnZipper::EntryComment(int index) {
    check_index(index);
    ZipHeaderInfo& entry = *view().item(index);
    if (!entry.HasComment()) return {};
    if (entry.FileComment()) return *entry.FileComment();
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    const std::string comment = load_entry_comment(entry);
    CloseArchive();
    return comment;
}

std::string UnZipper::ArchiveComment() {
    if (end_record_.CommentLength == 0) return {};
    if (end_record_.ZipComment) return *end_record_.ZipComment;
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    const std::string comment = load_archive_comment();
    CloseArchive();
    return comment;
}

void UnZipper::SetEntryComment(int index, const std::string& text) {
    check_index(index);
    ZipHeaderInfo& entry = *view().item(index);
    if (entry.FileComment() && *entry.FileComment() == text) return;
    entry.SetFileComment(text);
    end_record_.CommentModified = true;
}

void UnZipper::SetArchiveComment(const std::string& text) {
    if (end_record_.ZipComment && *end_record_.ZipComment == text) return;
    end_record_.ZipComment = text;
    end_record_.CommentLength = uint16_t(text.size());
    end_record_.CommentModified = true;
}

void UnZipper::OpenArchive() {
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    if (!directory_read_ || os().modification_stamp(zip_name_) != archive_date_) ReadZip();
}

void UnZipper::CloseArchive() {
    if (!KeepZipOpen) archive_.reset();
}

void UnZipper::ApplySortMode(ZipSortMode mode) {
    sorted_view_.reset();
    if (mode != ZipSortMode::ByNone && entry_list_) {
        sorted_view_ = std::make_unique<SortedZip>(mode, false, Duplicates::Accept);
        if (UnlimitedDirectory) sorted_view_->lift_capacity_limit();
        for (int i = 0; i < entry_list_->count(); ++i) sorted_view_->add(entry_list_->item(i));
    }
    SortMode = mode;
}

}  // namespace kalv::unzip
