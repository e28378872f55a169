// SHA-256 and ECDSA P-256 through OpenSSL's libcrypto 3: keys are built from their raw
// bytes with EVP_PKEY_fromdata (OSSL_PARAM), signatures converted between OpenSSL's
// DER form and r || s through ECDSA_SIG.
#include "platform/p256.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <string>
#include <utility>

#include "core/errors.h"

namespace kalv::platform::p256 {

namespace {

constexpr char kCurve[] = "prime256v1";
constexpr uint8_t kUncompressedPoint = 0x04;  // SEC 1 2.3.3

[[noreturn]] void fail(const std::string& what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "no reason given";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    throw Error("OpenSSL: " + what + " failed (" + text + ")");
}

template <typename T, void (*Free)(T*)>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    explicit Owned(T* q) : p(q) {}
    ~Owned() {
        if (p) Free(p);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T* release() { return std::exchange(p, nullptr); }
};
void free_bn(BIGNUM* b) { BN_clear_free(b); }
void free_params(OSSL_PARAM* p) { OSSL_PARAM_free(p); }
using Pkey = Owned<EVP_PKEY, EVP_PKEY_free>;
using PkeyCtx = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using Bignum = Owned<BIGNUM, free_bn>;
using ParamBuild = Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using Params = Owned<OSSL_PARAM, free_params>;
using EcdsaSig = Owned<ECDSA_SIG, ECDSA_SIG_free>;

// A key from raw bytes; without `d` a public key alone. Null when OpenSSL refuses the
// point (not on the curve).
EVP_PKEY* make_key(const uint8_t* xy, const uint8_t* d) {
    uint8_t point[1 + 2 * kScalarSize];
    point[0] = kUncompressedPoint;
    std::copy_n(xy, 2 * kScalarSize, point + 1);
    ParamBuild build(OSSL_PARAM_BLD_new());
    Bignum secret(d ? BN_bin2bn(d, int(kScalarSize), nullptr) : nullptr);
    if (!build.p || (d && !secret.p) ||
        !OSSL_PARAM_BLD_push_utf8_string(build.p, OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(build.p, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) ||
        (d && !OSSL_PARAM_BLD_push_BN(build.p, OSSL_PKEY_PARAM_PRIV_KEY, secret.p)))
        fail("building key parameters");
    Params params(OSSL_PARAM_BLD_to_param(build.p));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!params.p || !ctx.p || EVP_PKEY_fromdata_init(ctx.p) <= 0) fail("preparing a key");
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(ctx.p, &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.p) <= 0) {
        ERR_clear_error();
        return nullptr;
    }
    // fromdata takes the point as given; the check proves it lies on the curve.
    Pkey owned(key);
    PkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!check.p) fail("preparing a key check");
    if (EVP_PKEY_public_check(check.p) <= 0) {
        ERR_clear_error();
        return nullptr;
    }
    return owned.release();
}

}  // namespace

struct Sha256::State {
    EVP_MD_CTX* ctx = nullptr;
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->ctx = EVP_MD_CTX_new();
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1) fail("starting SHA-256");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t n) {
    if (EVP_DigestUpdate(state_->ctx, data, n) != 1) fail("SHA-256");
}

Digest Sha256::finish() {
    Digest digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(state_->ctx, digest.data(), &length) != 1 || length != digest.size()) fail("SHA-256");
    return digest;
}

PrivateKey generate_key() {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurve));
    if (!key.p) fail("making a P-256 key");
    uint8_t point[1 + 2 * kScalarSize];
    size_t point_size = 0;
    BIGNUM* d = nullptr;
    if (EVP_PKEY_get_octet_string_param(key.p, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &point_size) != 1 ||
        point_size != sizeof point || point[0] != kUncompressedPoint ||
        EVP_PKEY_get_bn_param(key.p, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1)
        fail("reading a new key");
    Bignum secret(d);
    PrivateKey out;
    std::copy_n(point + 1, 2 * kScalarSize, out.bytes.begin());
    if (BN_bn2binpad(secret.p, out.bytes.data() + 2 * kScalarSize, int(kScalarSize)) != int(kScalarSize))
        fail("reading a new key");
    return out;
}

bool is_valid_public_key(const PublicKey& key) {
    Pkey made(make_key(key.data(), nullptr));
    return made.p != nullptr;
}

Signature sign_digest(const PrivateKey& key, const Digest& digest) {
    Pkey pkey(make_key(key.bytes.data(), key.bytes.data() + 2 * kScalarSize));
    if (!pkey.p) throw Error("The private key is no P-256 key (its public point is not on the curve)");
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.p, nullptr));
    uint8_t der[80];  // a DER ECDSA-Sig-Value of P-256 takes at most 72 bytes
    size_t der_size = sizeof der;
    if (!ctx.p || EVP_PKEY_sign_init(ctx.p) <= 0 ||
        EVP_PKEY_sign(ctx.p, der, &der_size, digest.data(), digest.size()) <= 0)
        fail("ECDSA signing");
    const unsigned char* at = der;
    EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &at, long(der_size)));
    if (!sig.p) fail("reading the signature");
    Signature out{};
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.p), out.data(), int(kScalarSize)) != int(kScalarSize) ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.p), out.data() + kScalarSize, int(kScalarSize)) != int(kScalarSize))
        fail("reading the signature");
    return out;
}

bool verify_digest(const PublicKey& key, const Digest& digest, const Signature& signature) {
    Pkey pkey(make_key(key.data(), nullptr));
    if (!pkey.p) return false;
    EcdsaSig sig(ECDSA_SIG_new());
    Bignum r(BN_bin2bn(signature.data(), int(kScalarSize), nullptr));
    Bignum s(BN_bin2bn(signature.data() + kScalarSize, int(kScalarSize), nullptr));
    if (!sig.p || !r.p || !s.p || ECDSA_SIG_set0(sig.p, r.p, s.p) != 1) fail("preparing a signature");
    r.release();
    s.release();
    unsigned char* der = nullptr;
    const int der_size = i2d_ECDSA_SIG(sig.p, &der);
    if (der_size <= 0) fail("encoding a signature");
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.p, nullptr));
    const int verdict = ctx.p && EVP_PKEY_verify_init(ctx.p) > 0
                            ? EVP_PKEY_verify(ctx.p, der, size_t(der_size), digest.data(), digest.size())
                            : -1;
    OPENSSL_free(der);
    ERR_clear_error();
    // 1 verified, 0 did not, below 0 a malformed signature (r or s out of range).
    return verdict == 1;
}

}  // namespace kalv::platform::p256
