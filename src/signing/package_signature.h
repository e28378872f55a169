// A publisher's signature inside a package: the ZIP file comment of the end record
// (APPNOTE 4.3.16), so a signed package is still one ZIP file that every reader takes.
//
//   [entries][central directory][end record ... comment length = 120]
//   [kalv3-sig-p256 <key id> <Base64 of r || s>]
//   '------------- signed message -------------'
//
// The comment is fixed text of 120 bytes: "kalv3-sig-p256", a blank, the signing key's
// id (publisher_key.h), a blank and the 88 Base64 characters of the ECDSA P-256
// signature (r || s) of SHA-256 over every byte of the file before those characters:
// all entries, the central directory, the end record with its comment length, and the
// key id. The signature must end the file (nothing appended) and the end record must
// stand where that comment length puts it, so any change of a byte outside the 88
// characters fails it, and so does stripping or moving it.
#pragma once

#include <string>
#include <vector>

#include "platform/p256.h"
#include "platform/platform.h"

namespace kalv::signing {

namespace p256 = platform::p256;

inline constexpr std::string_view kSignatureTag = "kalv3-sig-p256";
// "kalv3-sig-p256 " + 16 hex digits + " " + Base64 of 64 bytes.
inline constexpr size_t kSignatureBase64Size = 88;
inline constexpr size_t kSignatureCommentSize = 14 + 1 + 16 + 1 + kSignatureBase64Size;
static_assert(kSignatureCommentSize == 120);

enum class Verdict {
    Valid,     // signed by one of the keys given, and not changed since
    Unsigned,  // no signature at its end
    OtherKey,  // signed, by a key that is not one of those given
    Altered,   // a signature naming a key given, which the bytes do not match
};

struct SignatureCheck {
    Verdict verdict = Verdict::Unsigned;
    std::string key_id;  // the key the signature names; empty when unsigned
    int key_index = -1;  // which of the keys given verified it (Valid only)
    // "signed by key 0123456789abcdef", "unsigned", "signed by key ..., which is not
    // trusted", "altered since it was signed by key ..."
    std::string text() const;
};

// Checks the signature of the package read through `file` against `trusted`. Reads the
// whole file; throws Error when it cannot be read.
SignatureCheck check_signature(platform::FileHandle& file, const std::vector<p256::PublicKey>& trusted);

// The same for the file at `path`, opened through `files`.
SignatureCheck check_signature(platform::FileSystem& files, const std::string& path,
                               const std::vector<p256::PublicKey>& trusted);

// Signs the finished ZIP file at `path` in place: the end record's comment length
// becomes 120 and the signature comment is written after it. A file signed before is
// signed anew (the comment has the same length); a file with a comment of another
// kind is refused, and so is one that is no ZIP file. The signature is verified with
// the key's public part before it is written. Returns the key id. Throws Error.
std::string sign_package(platform::FileSystem& files, const std::string& path, const p256::PrivateKey& key);

}  // namespace kalv::signing
