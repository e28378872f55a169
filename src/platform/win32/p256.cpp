// SHA-256 and ECDSA P-256 through CNG (bcrypt.dll, delay-loaded): keys travel as
// BCRYPT_ECCPUBLIC_BLOB / BCRYPT_ECCPRIVATE_BLOB, whose key bytes after the header are
// exactly the X || Y and X || Y || d forms of p256.h, and CNG signs in r || s.
#include "platform/p256.h"

#include <windows.h>
// <windows.h> first: bcrypt.h uses its types.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"

namespace kalv::platform::p256 {

namespace {

constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);  // STATUS_INVALID_SIGNATURE

[[noreturn]] void fail(const char* what, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(status));
    throw Error(std::string("CNG: ") + what + " failed (NTSTATUS 0x" + code + ")");
}

void check(NTSTATUS status, const char* what) {
    if (status < 0) fail(what, status);
}

class Algorithm {
public:
    explicit Algorithm(LPCWSTR name) {
        check(BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0), "opening an algorithm");
    }
    ~Algorithm() { BCryptCloseAlgorithmProvider(handle_, 0); }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
public:
    Key() = default;
    ~Key() {
        if (handle_) BCryptDestroyKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    BCRYPT_KEY_HANDLE* out() { return &handle_; }
    BCRYPT_KEY_HANDLE get() const { return handle_; }

private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// A key blob: the header, then the key's bytes; wiped when it goes (it may hold d).
class Blob {
public:
    Blob(ULONG magic, const uint8_t* bytes, size_t n) : bytes_(sizeof(BCRYPT_ECCKEY_BLOB) + n) {
        BCRYPT_ECCKEY_BLOB header{magic, ULONG(kScalarSize)};
        std::copy_n(reinterpret_cast<const uint8_t*>(&header), sizeof header, bytes_.begin());
        std::copy_n(bytes, n, bytes_.begin() + sizeof header);
    }
    ~Blob() {
        volatile uint8_t* p = bytes_.data();
        for (size_t i = 0; i < bytes_.size(); ++i) p[i] = 0;
    }
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;
    PUCHAR data() { return bytes_.data(); }
    ULONG size() const { return ULONG(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
};

// Imports a public key; false when CNG refuses it (not a point of the curve).
bool import_public(const Algorithm& ecdsa, const PublicKey& key, Key& out) {
    Blob blob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, key.data(), key.size());
    return BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, out.out(), blob.data(), blob.size(), 0) >=
           0;
}

}  // namespace

struct Sha256::State {
    Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    // Since Windows 7 CNG keeps the hash object itself when given no buffer.
    check(BCryptCreateHash(state_->algorithm.get(), &state_->hash, nullptr, 0, nullptr, 0, 0), "starting SHA-256");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t n) {
    auto bytes = static_cast<PUCHAR>(const_cast<void*>(data));  // BCryptHashData only reads
    while (n > 0) {
        const ULONG chunk = ULONG(std::min<size_t>(n, 1u << 30));
        check(BCryptHashData(state_->hash, bytes, chunk, 0), "SHA-256");
        bytes += chunk;
        n -= chunk;
    }
}

Digest Sha256::finish() {
    Digest digest{};
    check(BCryptFinishHash(state_->hash, digest.data(), ULONG(digest.size()), 0), "SHA-256");
    return digest;
}

PrivateKey generate_key() {
    const Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    Key key;
    check(BCryptGenerateKeyPair(ecdsa.get(), key.out(), 256, 0), "making a P-256 key");
    check(BCryptFinalizeKeyPair(key.get(), 0), "making a P-256 key");
    PrivateKey out;
    Blob blob(0, out.bytes.data(), out.bytes.size());
    ULONG written = 0;
    check(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), blob.size(), &written, 0),
          "reading a new key");
    BCRYPT_ECCKEY_BLOB header;
    std::copy_n(blob.data(), sizeof header, reinterpret_cast<uint8_t*>(&header));
    if (written != blob.size() || header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || header.cbKey != kScalarSize)
        throw Error("CNG: a new key came back in an unexpected form");
    std::copy_n(blob.data() + sizeof header, out.bytes.size(), out.bytes.begin());
    return out;
}

bool is_valid_public_key(const PublicKey& key) {
    const Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    Key imported;
    return import_public(ecdsa, key, imported);
}

Signature sign_digest(const PrivateKey& key, const Digest& digest) {
    const Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    Key imported;
    Blob blob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, key.bytes.data(), key.bytes.size());
    if (BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, imported.out(), blob.data(), blob.size(),
                            0) < 0)
        throw Error("The private key is no P-256 key (CNG does not take it)");
    Signature out{};
    ULONG written = 0;
    check(BCryptSignHash(imported.get(), nullptr, const_cast<PUCHAR>(digest.data()), ULONG(digest.size()),
                         out.data(), ULONG(out.size()), &written, 0),
          "ECDSA signing");
    if (written != out.size()) throw Error("CNG: a signature came back in an unexpected form");
    return out;
}

bool verify_digest(const PublicKey& key, const Digest& digest, const Signature& signature) {
    const Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    Key imported;
    if (!import_public(ecdsa, key, imported)) return false;
    const NTSTATUS status = BCryptVerifySignature(imported.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                                  ULONG(digest.size()), const_cast<PUCHAR>(signature.data()),
                                                  ULONG(signature.size()), 0);
    if (status == kInvalidSignature) return false;
    // Any other refusal (a malformed r or s) is no valid signature either.
    return status >= 0;
}

}  // namespace kalv::platform::p256
