#include "signing/publisher_key.h"

#include <algorithm>

#include "cipher/base64_codec.h"
#include "core/errors.h"

namespace kalv::signing {

namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Exactly `size` bytes from canonical Base64 into `out`; false otherwise. The text
// must be what the encoder writes for those bytes: no other spelling of the same
// bytes (unused low bits set) is taken. The decoded copy may hold a private key: it is
// wiped.
bool decode_exact(std::string_view text, uint8_t* out, size_t size) {
    if (!IsCanonicalBase64(text)) return false;
    std::string bytes = DecodeBase64(text);
    const bool exact = bytes.size() == size && EncodeBase64(bytes) == text;
    if (exact) std::copy(bytes.begin(), bytes.end(), out);
    std::fill(bytes.begin(), bytes.end(), '\0');
    return exact;
}

std::string encode(const uint8_t* bytes, size_t size) {
    return EncodeBase64(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace

std::string key_id(const p256::PublicKey& key) {
    p256::Sha256 hash;
    hash.update(key.data(), key.size());
    const p256::Digest digest = hash.finish();
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (size_t i = 0; i < kKeyIdDigits / 2; ++i) {
        id += kHex[digest[i] >> 4];
        id += kHex[digest[i] & 15];
    }
    return id;
}

std::string public_key_text(const p256::PublicKey& key) {
    return std::string(kPublicKeyPrefix) + encode(key.data(), key.size());
}

p256::PublicKey parse_public_key(std::string_view text) {
    text = trimmed(text);
    if (text.substr(0, kPublicKeyPrefix.size()) != kPublicKeyPrefix)
        throw Error("a public key begins with " + std::string(kPublicKeyPrefix) + " (as kalvtool keygen prints it)");
    p256::PublicKey key{};
    if (!decode_exact(text.substr(kPublicKeyPrefix.size()), key.data(), key.size()))
        throw Error("the public key is not the Base64 of 64 bytes after " + std::string(kPublicKeyPrefix) +
                    " (cut short, or changed?)");
    if (!p256::is_valid_public_key(key)) throw Error("the public key is no point of the curve P-256");
    return key;
}

std::string private_key_file_text(const p256::PrivateKey& key) {
    return "# kalv3 P-256 private key, key id " + key_id(key.public_part()) +
           ": keep it off the share; whoever holds it can sign packages that the shops install\n" +
           std::string(kPrivateKeyPrefix) + encode(key.bytes.data(), key.bytes.size()) + "\n";
}

p256::PrivateKey parse_private_key_file(std::string_view text) {
    p256::PrivateKey key;
    bool found = false;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line[0] == '#') continue;
        if (line.substr(0, kPrivateKeyPrefix.size()) != kPrivateKeyPrefix || found)
            throw Error("not a private key file of kalvtool keygen (a key line begins with " +
                        std::string(kPrivateKeyPrefix) + ", and there is one)");
        if (!decode_exact(line.substr(kPrivateKeyPrefix.size()), key.bytes.data(), key.bytes.size()))
            throw Error("the private key line is not the Base64 of 96 bytes (cut short, or changed?)");
        found = true;
    }
    if (!found) throw Error("no private key line (" + std::string(kPrivateKeyPrefix) + "...) in it");
    return key;
}

}  // namespace kalv::signing
