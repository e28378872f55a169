// The system's own cryptography for signed packages: SHA-256 (FIPS 180-4) and ECDSA
// over the curve P-256 (FIPS 186-4, SEC 2 secp256r1). Nothing here computes a
// primitive itself: the Windows backend calls CNG (bcrypt.dll), the POSIX backend
// OpenSSL's libcrypto 3. Only signing and verifying packages use it; the launcher
// reaches it only when NET.INF names a publisher key.
//
// Byte forms, all big-endian as SEC 1 writes integers:
//   public key   X || Y                 64 bytes (SEC 1 2.3.3's uncompressed point
//                                       without its leading 0x04)
//   private key  X || Y || d            96 bytes (the order of CNG's
//                                       BCRYPT_ECCPRIVATE_BLOB after its header)
//   signature    r || s                 64 bytes (IEEE P1363, as CNG signs; OpenSSL's
//                                       DER form is converted at the boundary)
//
// Failures of the system's crypto itself (a missing algorithm, a key that cannot be
// made) throw kalv::Error. A signature that does not verify is no failure: false.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kalv::platform::p256 {

inline constexpr size_t kScalarSize = 32;
using PublicKey = std::array<uint8_t, 2 * kScalarSize>;
using Digest = std::array<uint8_t, 32>;
using Signature = std::array<uint8_t, 2 * kScalarSize>;

// X || Y || d; wiped when it goes.
struct PrivateKey {
    std::array<uint8_t, 3 * kScalarSize> bytes{};
    PrivateKey() = default;
    PrivateKey(const PrivateKey&) = default;
    PrivateKey& operator=(const PrivateKey&) = default;
    ~PrivateKey();
    PublicKey public_part() const;
};

// SHA-256 fed in pieces: a package is hashed block by block as it is read.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* data, size_t n);
    // The digest of everything fed; the object is spent afterwards.
    Digest finish();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// A new key pair from the system's random source.
PrivateKey generate_key();

// True when X || Y is a point on the curve (what a key must be before anything is
// verified with it).
bool is_valid_public_key(const PublicKey& key);

// Signs a SHA-256 digest (ECDSA with the system's random nonce).
Signature sign_digest(const PrivateKey& key, const Digest& digest);

// True when `signature` is a valid ECDSA signature of `digest` under `key`; false for a
// signature that does not verify and for a key that is no point on the curve.
bool verify_digest(const PublicKey& key, const Digest& digest, const Signature& signature);

}  // namespace kalv::platform::p256
