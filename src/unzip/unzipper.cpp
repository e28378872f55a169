// The component: its properties and their setters with the "?" dialogs, the open and
// close steps, the readers of the directory it holds, and the observer (Events) that
// turns what the extraction core tells into the events, or into the component's boxes
// and cursors where no handler answers.
#include "unzip/unzipper.h"

#include "core/errors.h"
#include "unzip/core_helpers.h"

namespace kalv::unzip {

// What the core tells, as the events; the questions no handler answers are the
// user's, in the component's boxes.
class UnZipper::Events final : public Observer {
public:
    explicit Events(UnZipper& z) : z_(z) {}

    void keep_alive() override {
        if (z_.DoProcessMessages) z_.ui_.process_messages();
    }
    void scanning(bool begins) override {
        z_.ui_.set_cursor(begins ? platform::Cursor::HourGlass : platform::Cursor::Default);
    }
    kalv::unzip::IncompleteZipMode incomplete_archive(kalv::unzip::IncompleteZipMode) override {
        if (z_.OnInCompleteZip) z_.OnInCompleteZip(z_, z_.IncompleteZipMode);
        return z_.IncompleteZipMode;
    }
    bool next_disk(int disk, kalv::unzip::SpanMode mode, std::string& name) override {
        // Without a handler the name stays, and the part in hand is taken again.
        if (z_.OnGetNextDisk) z_.OnGetNextDisk(z_, disk, name);
        // A numbered part that the built-in handler names will not appear by asking again.
        return !z_.OnGetNextDisk.target<BuiltInNextDisk>() || mode == kalv::unzip::SpanMode::smRemovable;
    }
    bool reads_on_next_part() const override { return bool(z_.OnGetNextDisk); }

    void starting(int entries, int64_t total_bytes, bool& stop) override {
        if (z_.OnStartUnZipInfo) z_.OnStartUnZipInfo(z_, entries, total_bytes, stop);
    }
    void entry_starting(int index, const std::string& path, bool& skip) override {
        if (z_.OnStartUnZip) z_.OnStartUnZip(z_, index, path, skip);
    }
    void progress(int file_percent, int total_percent) override {
        if (z_.OnFilePercentDone) z_.OnFilePercentDone(z_, file_percent);
        if (z_.OnTotalPercentDone) z_.OnTotalPercentDone(z_, total_percent);
    }
    void extracted(int index, const std::string& path, const EntryCheck& check) override {
        z_.last_check_ = check;
        if (z_.OnEndUnZip) z_.OnEndUnZip(z_, index, path);
    }
    void skipped(int index, SkipReason reason, const std::string& stored_path, const EntryCheck& check) override {
        z_.last_check_ = check;
        if (z_.OnSkippingFile) z_.OnSkippingFile(z_, reason, stored_path, index);
    }
    void failed(int index, const EntryCheck& check, uint32_t stored_crc) override {
        z_.last_check_ = check;
        if (z_.OnBadCRC) z_.OnBadCRC(z_, check.computed_crc, stored_crc, index);
    }
    void problem(int index, ZipProblem what) override {
        if (z_.OnZipProblem) {
            z_.OnZipProblem(z_, what, index);
            return;
        }
        // A test pass shows no unknown-method box: nobody may be there to answer it.
        if (what == ZipProblem::UnknownMethod && z_.TestMode) return;
        const char* caption = what == ZipProblem::UnknownMethod ? "Zip Error" : "Error";
        z_.ui_.message_box(zip_problem_text(what), caption, platform::BoxButtons::Ok, platform::BoxIcon::None);
    }
    bool overwrite(int index, std::string& path) override {
        bool overwrite = false;
        if (z_.OnPromptForOverwrite) {
            z_.OnPromptForOverwrite(z_, overwrite, index, path);
            return overwrite;
        }
        // A plain Yes/No box: no icon.
        return z_.ui_.message_box("Replace existing file " + z_.EntryName(index) + "?", "File Exists Alert",
                                  platform::BoxButtons::YesNo, platform::BoxIcon::None) == platform::BoxAnswer::Yes;
    }
    // Asked at the header check and again after a failed CRC check; a different text
    // becomes the Password for this entry, the later ones and later operations.
    std::optional<std::string> other_password(int index, const std::string& tried) override {
        if (!z_.OnBadPassword) return std::nullopt;
        std::string offered = tried;
        z_.OnBadPassword(z_, index, offered);
        if (offered != tried) z_.Password = offered;
        return offered;
    }

private:
    UnZipper& z_;
};

UnZipper::UnZipper(platform::FileSystem& files, platform::Processes& processes, platform::UserInterface& ui)
    : files_(files), processes_(processes), ui_(ui) {
    OnGetNextDisk = BuiltInNextDisk{this};
}

UnZipper::~UnZipper() { ResetDirectory(); }

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
std::string ask_for_zip_name(platform::FileSystem& files, platform::UserInterface& ui, const std::string& name) {
    const std::string own = name.substr(0, name.size() - file_name_part(name).size());
    const std::string folder = files.directory_exists(own) ? own : std::string(kFallbackDialogFolder);
    std::optional<std::string> chosen = ui.choose_open_file(kOpenZipTitle, kOpenZipFilter, folder);
    if (!chosen) throw UserCanceled("User canceled setting zip file name.");
    return *chosen;
}

std::string ask_for_dest_dir(platform::FileSystem& files, platform::Processes& processes, platform::UserInterface& ui,
                             const std::string& current) {
    const std::string start = files.directory_exists(current) ? current : processes.current_directory();
    std::optional<std::string> chosen = ui.choose_folder(start);
    if (!chosen) throw UserCanceled("User canceled Set Desination Directory");
    return *chosen;
}

}  // namespace

void UnZipper::SetZipName(const std::string& value) {
    if (same_text_ignoring_case(value, ZipName())) return;
    const std::string name = !value.empty() && value.back() == '?' ? ask_for_zip_name(files_, ui_, value) : value;
    archive_.reset();
    zip_name_ = name;
}

void UnZipper::SetDestDir(const std::string& dir) {
    dest_dir_ = dir == "?" ? ask_for_dest_dir(files_, processes_, ui_, dest_dir_) : dir;
    if (!dest_dir_.empty() && dest_dir_.back() == kPathDelimiter) dest_dir_.pop_back();
}

void UnZipper::SetRootDir(const std::string& dir) {
    root_dir_ = dir;
    if (!root_dir_.empty() && root_dir_.back() != kPathDelimiter) root_dir_ += kPathDelimiter;
}

// The built-in OnGetNextDisk: the user inserts the disk of a removable drive; numbered
// parts are named by their number.
void UnZipper::built_in_next_disk(int next_disk, std::string& name) {
    if (SpanMode() != kalv::unzip::SpanMode::smRemovable) {
        name = numbered_part_name(name, next_disk);
        return;
    }
    ui_.set_cursor(platform::Cursor::Default);
    bool cancel = false;
    if (OnInsertDisk) {
        OnInsertDisk(*this, next_disk, cancel);
    } else {
        cancel = ui_.message_box("Please insert disk " + std::to_string(next_disk) + " of the multi-disk set.",
                                 "Confirm", platform::BoxButtons::OkCancel,
                                 platform::BoxIcon::Question) == platform::BoxAnswer::Cancel;
    }
    if (cancel) name.clear();
    ui_.set_cursor(platform::Cursor::HourGlass);
}

DirectoryOptions UnZipper::directory_options() const {
    return {SortMode, IncompleteZipMode, UnlimitedDirectory, CheckVolumeLabels};
}

ExtractOptions UnZipper::extract_options() const {
    ExtractOptions options;
    options.destination = dest_dir_;
    options.root = root_dir_;
    options.patterns = FilesList;
    options.all = DoAll;
    options.recreate_dirs = RecreateDirs;
    options.overwrite = OverwriteMode;
    options.password = Password;
    options.durability = Durability;
    options.retain_attributes = RetainAttributes;
    options.make_links = MakeLinks;
    options.test_only = TestMode;
    options.threading = Threading;
    // An unknown method decodes nothing, and the CRC check judges that.
    options.judge_undecoded_by_crc = true;
    return options;
}

int UnZipper::UnZip() {
    OpenArchive();
    // A split archive is read part after part, in physical order: for the pass its
    // entries are numbered so.
    const ZipSortMode caller_mode = SortMode;
    const bool physical_order = archive_->split() && SortMode != ZipSortMode::ByNone;
    if (physical_order) ApplySortMode(ZipSortMode::ByNone);
    struct RestoreMode {
        UnZipper& z;
        bool active;
        ZipSortMode mode;
        ~RestoreMode() {
            if (active) z.ApplySortMode(mode);
        }
    } restore{*this, physical_order, caller_mode};
    Events events(*this);
    archive_->set_check_volume_labels(CheckVolumeLabels);
    const int count = extract(files_, *archive_, extract_options(), events);
    CloseArchive();
    return count;
}

void UnZipper::OpenArchive() {
    if (!archive_)
        archive_ = std::make_unique<Archive>(files_, zip_name_);
    else
        archive_->reopen();
    if (!archive_->directory_read() || files_.modification_stamp(archive_->name()) != archive_->date()) ReadZip();
}

void UnZipper::CloseArchive() {
    if (!KeepZipOpen && archive_) archive_->close();
}

void UnZipper::ReadZip() {
    if (!archive_) archive_ = std::make_unique<Archive>(files_, zip_name_);
    Events events(*this);
    // A directory that cannot be right fails the archive and forgets its name.
    try {
        archive_->read(directory_options(), events);
    } catch (const BadZipFile&) {
        ResetDirectory();
        throw;
    } catch (const IncompleteZip&) {
        ResetDirectory();
        throw;
    }
}

void UnZipper::ChangeDisk(int n) {
    if (!archive_) archive_ = std::make_unique<Archive>(files_, zip_name_);
    Events events(*this);
    archive_->set_check_volume_labels(CheckVolumeLabels);
    archive_->change_disk(n, events);
}

void UnZipper::ResetDirectory() {
    archive_.reset();
    zip_name_.clear();
}

void UnZipper::ApplySortMode(ZipSortMode mode) {
    if (archive_) archive_->apply_sort_mode(mode);
    SortMode = mode;
}

int UnZipper::EntryCount() const { return archive_ ? archive_->count() : 0; }

const ZipHeaderInfo& UnZipper::Entry(int index) const {
    if (!archive_) throw ListError("Index " + std::to_string(index) + " is out of range");
    return archive_->entry(index);
}

std::string UnZipper::EntryName(int index) const { return Entry(index).FileName(); }

std::string UnZipper::EntryComment(int index) {
    const ZipHeaderInfo& entry = Entry(index);
    const bool load = entry.HasComment() && !entry.FileComment();
    const std::string comment = archive_->entry_comment(index);
    if (load) CloseArchive();
    return comment;
}

std::string UnZipper::ArchiveComment() {
    if (!archive_) return {};
    const EndCentral& end = archive_->end_record();
    const bool load = end.CommentLength != 0 && !end.ZipComment;
    const std::string comment = archive_->archive_comment();
    if (load) CloseArchive();
    return comment;
}

void UnZipper::SetEntryComment(int index, const std::string& text) {
    Entry(index);  // the index checked
    archive_->set_entry_comment(index, text);
}

void UnZipper::SetArchiveComment(const std::string& text) {
    if (archive_) archive_->set_archive_comment(text);
}

const EndCentral& UnZipper::EndRecord() const {
    static const EndCentral kNone;
    return archive_ ? archive_->end_record() : kNone;
}

kalv::unzip::SpanMode UnZipper::SpanMode() const {
    return archive_ ? archive_->span_mode() : kalv::unzip::SpanMode::smNone;
}

}  // namespace kalv::unzip
