// The steps of one entry around its decoding, in their order: reaching its data, the
// refusals (a path out of the destination, AES, links), the password check, the
// overwrite rule; then the decoder, the output file's date, attributes and rename,
// and the links made at the end of the pass.
#include "core/errors.h"
#include "unzip/core_helpers.h"
#include "unzip/extraction_pass.h"
#include "unzip/output_path.h"

namespace kalv::unzip {

namespace {

// A link's target is a path name: a few hundred bytes, not an entry's worth of data.
constexpr int64_t kMaxLinkTarget = 4096;

#ifdef _WIN32
constexpr bool kLinksHere = false;  // a Windows link needs a privilege; a skip says so
#else
constexpr bool kLinksHere = true;
#endif

bool has_decoder(CompressionMethod method) {
    switch (method) {
        case CompressionMethod::Stored:
        case CompressionMethod::Shrunk:
        case CompressionMethod::Reduced1:
        case CompressionMethod::Reduced2:
        case CompressionMethod::Reduced3:
        case CompressionMethod::Reduced4:
        case CompressionMethod::Imploded:
        case CompressionMethod::Deflated: return true;
        default: return false;
    }
}

}  // namespace

std::optional<ExtractionPass::Target> ExtractionPass::prepare(int index) {
    const ZipHeaderInfo& entry = entry_;
    auto refuse = [&](SkipReason reason) -> std::optional<Target> {
        skip(index, reason);
        return std::nullopt;
    };
    if (!entry.FileName().empty()) seek_entry_data();
    if (names_a_parent(entry.FileName())) return refuse(SkipReason::srOutsideDestDir);
    SkipReason refused = SkipReason::srOutsideDestDir;
    const std::optional<std::string> folder = target_directory(refused);
    if (!folder) return refuse(refused);
    if (entry.FileName().empty()) {
        bool ignored = false;
        if (options_.recreate_dirs) observer_.entry_starting(index, *folder, ignored);
        return std::nullopt;
    }
    Target target{*folder + windows_file_names(entry.FileName())};
    // A waiting file that this entry would meet (an entry of the same name, say) is
    // put in place first: the overwrite rule and the new file see it there.
    if (pending_.claims(target.path)) publish_pending();

    // WinZip AES (method 99) also sets bit 0, but its data begins with a salt, not the
    // traditional header: any password would fail the check, and the entry is named as
    // what it is instead.
    if (entry.IsAesEncrypted()) return refuse(SkipReason::srAesEncrypted);
    // A link's data is its target's name. Written as a file it would be a file holding a
    // path; made a link at once, later entries could be led out of the destination
    // through it. It is read into memory and made at the end of the pass, or skipped.
    // A test reads its data all the same.
    target.link = entry.IsSymbolicLink() && !options_.test_only;
    if (target.link && (!options_.make_links || !kLinksHere || entry.UncompressedSize > kMaxLinkTarget))
        return refuse(SkipReason::srSymbolicLink);
    if (entry.IsEncrypted() && !check_password(index)) return refuse(SkipReason::srBadPassword);
    if (!may_overwrite(index, target.path)) return refuse(SkipReason::srNoOverwrite);
    return target;
}

// Reaches the entry's data: the local header's name and extra field may differ in
// length from the central record's, so they are stepped over as the local header
// gives them. The local extra field's time dates the file, and without one the DOS
// time: so Info-ZIP unzip dates it. The central record may say otherwise: a tool that
// rewrote the directory and kept the local headers, or a jar tool that put the time
// field in the central record alone (one second on from the DOS time, which has two).
void ExtractionPass::seek_entry_data() {
    if (archive_.split() && entry_.DiskNumberStart != archive_.current_disk())
        archive_.change_disk(entry_.DiskNumberStart + 1, observer_);
    BufferedStream& in = stream();
    uint8_t local[LocalFileHeader::kSize] = {};
    in.seek(int64_t(entry_.RelativeOffset), BufferedStream::kFromBeginning);
    if (in.read(local, sizeof local) != sizeof local) throw FatalUnzipError();
    const LocalFileHeader header = read_record<LocalFileHeader>(local);
    const int64_t data_at = in.position() + header.variable_size();
    std::vector<uint8_t> extra(header.extra_field_length);
    if (!extra.empty() && in.seek(header.file_name_length, BufferedStream::kFromCurrent) >= 0)
        extra.resize(in.read(extra.data(), extra.size()));
    else
        extra.clear();
    entry_.UnixModTime = unix_mod_time(extra, entry_.FileDateTime);
    in.seek(data_at, BufferedStream::kFromBeginning);
}

// APPNOTE 6.1.5: the 12-byte encryption header decrypted with `password`; its last
// byte is the check byte. The keys then stand ready for the entry's data.
uint8_t ExtractionPass::check_header(const std::string& password) {
    uint8_t header[ZipKeys::kHeaderSize] = {};
    stream().read(header, sizeof header);
    remaining_ -= int64_t(ZipKeys::kHeaderSize);
    keys_.InitKeys(password);
    keys_.DecryptBuffer(header, sizeof header);
    return header[ZipKeys::kHeaderSize - 1];
}

bool ExtractionPass::check_password(int index) {
    // APPNOTE 6.1.6: the header's last byte repeats the CRC's high byte, or, when the
    // CRC follows the data (bit 3), the high byte of the time as stored (a clamped hour
    // 25 would no longer match the byte the producer wrote).
    const uint8_t check = entry_.HasDescriptor() ? uint8_t(entry_.StoredDateTime >> 8) : uint8_t(entry_.Crc32 >> 24);
    for (;;) {
        if (check_header(password_) == check) return true;
        const std::optional<std::string> other = observer_.other_password(index, password_);
        if (!other || *other == password_) return false;
        password_ = *other;
        stream().seek(-int64_t(ZipKeys::kHeaderSize), BufferedStream::kFromCurrent);
        remaining_ += int64_t(ZipKeys::kHeaderSize);
    }
}

// Whether the entry may take `path`: always when nothing is there or the rule says
// so; otherwise as the observer answers (Prompt, which may give another path), or never.
bool ExtractionPass::may_overwrite(int index, std::string& path) {
    if (options_.test_only || options_.overwrite == UZOverwriteMode::Always || !file_exists(os_, path)) return true;
    return options_.overwrite == UZOverwriteMode::Prompt && observer_.overwrite(index, path);
}

std::optional<DecodeStatus> ExtractionPass::decode(EntryOutput& output, int index) {
    const ZipHeaderInfo& entry = entry_;
    EntryInput input(*this);
    const DecodeJob job{input, output, std::span<uint8_t>(window_), entry.BitFlag, remaining_,
                        int64_t(entry.UncompressedSize)};
    DecodeStatus status = DecodeStatus::Done;
    const bool stored = entry.Method() == CompressionMethod::Stored;
    if (stored || has_decoder(entry.Method())) input.start_decrypting_ahead(stored);
    switch (entry.Method()) {
        case CompressionMethod::Stored: input.copy_stored(output); break;
        case CompressionMethod::Shrunk: status = unshrink(job); break;
        case CompressionMethod::Reduced1:
        case CompressionMethod::Reduced2:
        case CompressionMethod::Reduced3:
        case CompressionMethod::Reduced4: status = unreduce(job, reduction_factor(entry.Method())); break;
        case CompressionMethod::Imploded: status = explode(job); break;
        case CompressionMethod::Deflated: status = inflate(job); break;
        default: observer_.problem(index, ZipProblem::UnknownMethod); return std::nullopt;
    }
    switch (status) {
        case DecodeStatus::Done: output.finish(); break;
        case DecodeStatus::OutputFull:
            // More data than the record announced: decoding ended where the output
            // reached the uncompressed size. A normal end: the CRC check judges what
            // was written.
            return DecodeStatus::Done;
        case DecodeStatus::OutOfMemory:
            // The table-building decoders, Deflate and Implode, tell the user; Shrink
            // and Reduce end such an entry without a word, as one with bad data.
            if (entry.Method() == CompressionMethod::Deflated || entry.Method() == CompressionMethod::Imploded)
                observer_.problem(index, ZipProblem::OutOfMemory);
            break;
        case DecodeStatus::BadData:
        case DecodeStatus::EndOfInput: break;
    }
    return status;
}

// Creates the temporary file that the entry is written to, beside `path` under a name
// nobody can predict. Waiting files hold a handle each, and a low limit on open files
// may have been reached: the batch is put in place, its handles closed, and the file
// tried once more.
platform::TemporaryFile ExtractionPass::create_partial(const std::string& path) {
    try {
        return platform::create_temporary_beside(os_, path, kPartialSuffix);
    } catch (const FileStreamError&) {
        if (pending_.empty()) throw;
    }
    publish_pending();
    return platform::create_temporary_beside(os_, path, kPartialSuffix);
}

void ExtractionPass::apply_stored_metadata(platform::FileHandle& file) const {
    // The UTC time where the entry has one; the DOS time, taken as local, otherwise, or
    // where the system cannot hold the UTC one.
    const std::optional<int64_t>& utc = entry_.UnixModTime;
    if (!utc || !file.set_unix_time(*utc)) file.set_dos_time(entry_.FileDateTime);
    if (options_.retain_attributes) file.set_attributes(entry_.ExternalAttributes, entry_.VersionMadeBy);
}

// Puts the finished, CRC-checked, dated and synced entry in hand in place of its
// target. A target that cannot be replaced (read-only, a directory, in use) keeps what
// it was; the failure names it as its creation would have.
void ExtractionPass::put_in_place(const std::string& path, platform::TemporaryFile partial) {
    partial.handle.reset();  // Windows renames no file that a handle holds unshared
    if (!os_.replace_file(partial.path, path)) {
        discard_temporary(os_, partial.path);
        throw FileStreamError("Cannot create file " + path);
    }
}

// Whether the link that `path` would be stays inside the destination when followed:
// its target relative (an absolute one names any place), and its ".." levels, taken
// from the link's own folder, never climbing above the destination. Links inside it
// are never followed by the pass, so a chain of links that each stay inside stays inside.
bool ExtractionPass::link_stays_inside(const std::string& path, const std::string& target) const {
    const std::string& destination = options_.destination;
    const std::string base = (destination.empty() ? std::string(".") : destination) + kPathDelimiter;
    if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos) return false;
    if (path.compare(0, base.size(), base) != 0) return false;  // sent elsewhere by an answer
    size_t depth = 0;
    auto walk = [&depth](const std::string& text, char delimiter, size_t end) {
        size_t start = 0;
        while (start < end) {
            size_t stop = text.find(delimiter, start);
            if (stop == std::string::npos || stop > end) stop = end;
            const std::string level = text.substr(start, stop - start);
            if (level == "..") {
                if (depth == 0) return false;
                --depth;
            } else if (!level.empty() && level != ".") {
                ++depth;
            }
            start = stop + 1;
        }
        return true;
    };
    const std::string below = path.substr(base.size());
    const size_t folder_end = below.find_last_of(kPathDelimiter);
    return walk(below, kPathDelimiter, folder_end == std::string::npos ? 0 : folder_end) &&
           walk(target, '/', target.size());
}

void ExtractionPass::make_links() {
    std::vector<DeferredLink> links = std::move(links_);
    links_.clear();
    for (const DeferredLink& made : links) {
        if (!os_.create_link(made.target, made.path)) throw FileStreamError("Cannot create file " + made.path);
        observer_.extracted(made.index, made.path, made.check);
    }
}

}  // namespace kalv::unzip
