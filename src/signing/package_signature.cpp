#include "signing/package_signature.h"

#include <algorithm>
#include <optional>

#include "cipher/base64_codec.h"
#include "core/errors.h"
#include "platform/key_files.h"
#include "signing/publisher_key.h"
#include "unzip/zip_records.h"

namespace kalv::signing {

namespace {

using EndRecord = unzip::EndOfCentralDirectoryRecord;
// The comment length is the end record's last field (APPNOTE 4.3.16).
constexpr size_t kCommentLengthAt = EndRecord::kSize - 2;
constexpr size_t kSignedTail = EndRecord::kSize + kSignatureCommentSize;
constexpr size_t kMaxComment = 0xFFFF;
// Large reads: hashing a 64 MiB package costs the disk's time and little else.
constexpr size_t kHashBlock = 1 << 20;

std::vector<uint8_t> read_at(platform::FileHandle& file, int64_t offset, size_t n) {
    std::vector<uint8_t> bytes(n);
    if (file.seek(offset, platform::SeekOrigin::Begin) != offset || file.read(bytes.data(), n) != n)
        throw Error("Cannot read the package to its end");
    return bytes;
}

// SHA-256 of the file's first `length` bytes, then of `more`.
p256::Digest hash_prefix(platform::FileHandle& file, uint64_t length, std::string_view more = {}) {
    p256::Sha256 hash;
    std::vector<uint8_t> block(kHashBlock);
    if (file.seek(0, platform::SeekOrigin::Begin) != 0) throw Error("Cannot read the package");
    while (length > 0) {
        const size_t want = size_t(std::min<uint64_t>(length, block.size()));
        const size_t got = file.read(block.data(), want);
        if (got == 0) throw Error("Cannot read the package to its end");
        hash.update(block.data(), got);
        length -= got;
    }
    hash.update(more.data(), more.size());
    return hash.finish();
}

std::string_view as_text(const std::vector<uint8_t>& bytes, size_t from = 0) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + from, bytes.size() - from);
}

uint16_t u16_at(const std::vector<uint8_t>& bytes, size_t at) { return uint16_t(bytes[at] | bytes[at + 1] << 8); }

bool is_hex_id(std::string_view text) {
    return text.size() == kKeyIdDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The text before the Base64 characters: "kalv3-sig-p256 <id> ".
std::string signed_comment_head(const std::string& id) { return std::string(kSignatureTag) + " " + id + " "; }

// Where the end record stands, by the rule a signature relies on: the last
// "PK\5\6" whose comment length reaches exactly to the end of the file.
struct EndRecordAt {
    uint64_t offset = 0;
    uint16_t comment_length = 0;
};
std::optional<EndRecordAt> find_end_record(platform::FileHandle& file, uint64_t size) {
    const size_t window = size_t(std::min<uint64_t>(size, EndRecord::kSize + kMaxComment));
    if (window < EndRecord::kSize) return std::nullopt;
    const std::vector<uint8_t> tail = read_at(file, int64_t(size - window), window);
    for (size_t i = window - EndRecord::kSize + 1; i-- > 0;) {
        if (tail[i] != 'P' || tail[i + 1] != 'K' || tail[i + 2] != 5 || tail[i + 3] != 6) continue;
        const uint16_t length = u16_at(tail, i + kCommentLengthAt);
        if (i + EndRecord::kSize + length == window) return EndRecordAt{size - window + i, length};
    }
    return std::nullopt;
}

}  // namespace

std::string SignatureCheck::text() const {
    switch (verdict) {
        case Verdict::Valid: return "signed by key " + key_id;
        case Verdict::Unsigned: return "unsigned";
        case Verdict::OtherKey: return "signed by key " + key_id + ", which is not trusted";
        case Verdict::Altered:
            return key_id.empty() ? "altered: its signature is damaged, or does not end it"
                                  : "altered since it was signed by key " + key_id;
    }
    return {};
}

SignatureCheck check_signature(platform::FileHandle& file, const std::vector<p256::PublicKey>& trusted) {
    SignatureCheck check;
    const int64_t size = file.size();
    if (size < 0) throw Error("Cannot read the package's size");
    if (uint64_t(size) < kSignedTail) return check;  // too short to hold one: unsigned
    const std::vector<uint8_t> tail = read_at(file, size - int64_t(kSignedTail), kSignedTail);
    const std::string_view comment = as_text(tail, EndRecord::kSize);
    // A package is taken as signed when its last bytes begin like a signature; what
    // then does not fit is an alteration, not the absence of one. So is a signature
    // that bytes appended after it have moved away from the end.
    const std::string tag = std::string(kSignatureTag) + " ";
    if (comment.substr(0, tag.size()) != tag) {
        const size_t window = size_t(std::min<uint64_t>(uint64_t(size), EndRecord::kSize + kMaxComment));
        const std::vector<uint8_t> last = read_at(file, size - int64_t(window), window);
        if (as_text(last).find(tag) != std::string_view::npos) check.verdict = Verdict::Altered;
        return check;
    }
    check.verdict = Verdict::Altered;
    const std::string_view id = comment.substr(kSignatureTag.size() + 1, kKeyIdDigits);
    const std::string_view base64 = comment.substr(comment.size() - kSignatureBase64Size);
    const std::string head = signed_comment_head(std::string(id));
    const bool end_record_in_place = tail[0] == 'P' && tail[1] == 'K' && tail[2] == 5 && tail[3] == 6 &&
                                     u16_at(tail, kCommentLengthAt) == kSignatureCommentSize;
    if (!is_hex_id(id) || comment.substr(0, head.size()) != head || !end_record_in_place) return check;
    check.key_id = std::string(id);
    const std::string signature_bytes = DecodeBase64(base64);
    if (!IsCanonicalBase64(base64) || signature_bytes.size() != p256::Signature{}.size() ||
        EncodeBase64(signature_bytes) != base64)
        return check;
    p256::Signature signature{};
    std::copy(signature_bytes.begin(), signature_bytes.end(), signature.begin());

    std::vector<size_t> named;
    for (size_t k = 0; k < trusted.size(); ++k)
        if (key_id(trusted[k]) == id) named.push_back(k);
    if (named.empty()) {
        check.verdict = Verdict::OtherKey;
        return check;
    }
    const p256::Digest digest = hash_prefix(file, uint64_t(size) - kSignatureBase64Size);
    for (const size_t k : named) {
        if (!p256::verify_digest(trusted[k], digest, signature)) continue;
        check.verdict = Verdict::Valid;
        check.key_index = int(k);
        break;
    }
    return check;
}

SignatureCheck check_signature(platform::FileSystem& files, const std::string& path,
                               const std::vector<p256::PublicKey>& trusted) {
    const std::unique_ptr<platform::FileHandle> file =
        files.open_file(path, platform::OpenMode::ReadDenyWrite);
    return check_signature(*file, trusted);
}

std::string sign_package(platform::FileSystem& files, const std::string& path, const p256::PrivateKey& key) {
    const p256::PublicKey public_key = key.public_part();
    const std::string id = key_id(public_key);
    uint64_t end_at = 0;
    p256::Digest digest{};
    {
        const std::unique_ptr<platform::FileHandle> file =
            files.open_file(path, platform::OpenMode::ReadDenyWrite);
        const int64_t size = file->size();
        const std::optional<EndRecordAt> end = size < 0 ? std::nullopt : find_end_record(*file, uint64_t(size));
        if (!end) throw Error(path + " is no ZIP file (no end record that ends it): nothing to sign");
        if (end->comment_length != 0) {
            const std::vector<uint8_t> comment = read_at(*file, int64_t(end->offset + EndRecord::kSize),
                                                         end->comment_length);
            const bool signed_before = end->comment_length == kSignatureCommentSize &&
                                       as_text(comment).substr(0, kSignatureTag.size()) == kSignatureTag;
            if (!signed_before)
                throw Error(path + " carries a ZIP comment of its own, where the signature goes: remove it "
                                   "(zip -z) and sign again");
        }
        end_at = end->offset;
        const uint8_t length[2] = {uint8_t(kSignatureCommentSize & 0xFF), uint8_t(kSignatureCommentSize >> 8)};
        digest = hash_prefix(*file, end_at + kCommentLengthAt,
                             std::string(reinterpret_cast<const char*>(length), 2) + signed_comment_head(id));
    }
    const p256::Signature signature = p256::sign_digest(key, digest);
    // A key file whose public part does not belong to its secret would sign what
    // no shop can verify: caught here, before anything is written.
    if (!p256::verify_digest(public_key, digest, signature))
        throw Error("the private key does not verify its own signature (the key file is damaged)");
    std::string written;
    written += char(kSignatureCommentSize & 0xFF);
    written += char(kSignatureCommentSize >> 8);
    written += signed_comment_head(id);
    written += EncodeBase64(std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()));
    platform::write_into_file(path, end_at + kCommentLengthAt, written);
    return id;
}

}  // namespace kalv::signing
