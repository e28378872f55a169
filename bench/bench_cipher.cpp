// AES beside OpenSSL's EVP AES-128 in the same binary: one block at a time (the
// cost of EncryptBlock as the modes call it) and CBC over 1 MiB (the text cipher's
// mode, at a size where per-call overhead vanishes), plus the start token itself.
//
//   build/bench/bench/bench_cipher                                    (OpenSSL with AES-NI)
//   OPENSSL_ia32cap="~0x200000200000000" build/bench/bench/bench_cipher   (AES-NI and PCLMULQDQ masked)
//
// Ours is portable table-driven C++ and never uses AES-NI: the masked run is the
// fair comparison; the unmasked one shows what the hardware instructions buy.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cipher/rijndael.h"
#include "cipher/text_cipher.h"

namespace {

constexpr size_t kMiB = 1u << 20;
const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const uint8_t kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::vector<uint8_t> test_data(size_t n) {
    std::vector<uint8_t> data(n);
    uint32_t x = 0x12345678;
    for (auto& b : data) {
        x = x * 1664525 + 1013904223;
        b = uint8_t(x >> 24);
    }
    return data;
}

using EvpContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

EvpContext evp_context(const EVP_CIPHER* cipher, bool encrypt) {
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), cipher, nullptr, kKey, kIv, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return ctx;
}

void BM_Kalv_EncryptBlock(benchmark::State& state) {
    kalv::Rijndael aes;
    aes.SetKey(kKey, 128, kIv);
    uint8_t block[16] = {};
    for (auto _ : state) {
        aes.EncryptBlock(block, block);  // each block depends on the last: latency, not throughput
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 16);
}

// One 16-byte EVP_EncryptUpdate per block: OpenSSL's cost of a single block,
// including its dispatch, the counterpart of one EncryptBlock call.
void BM_OpenSsl_EncryptBlock(benchmark::State& state) {
    EvpContext ctx = evp_context(EVP_aes_128_ecb(), true);
    uint8_t block[16] = {};
    int n = 0;
    for (auto _ : state) {
        EVP_EncryptUpdate(ctx.get(), block, &n, block, 16);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 16);
}

void BM_Kalv_DecryptBlock(benchmark::State& state) {
    kalv::Rijndael aes;
    aes.SetKey(kKey, 128, kIv);
    uint8_t block[16] = {};
    for (auto _ : state) {
        aes.DecryptBlock(block, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 16);
}

void BM_Kalv_CbcEncrypt1MiB(benchmark::State& state) {
    const std::vector<uint8_t> plain = test_data(kMiB);
    std::vector<uint8_t> out(kMiB);
    kalv::Rijndael aes;
    aes.SetKey(kKey, 128, kIv);
    for (auto _ : state) {
        aes.ResetChain();
        aes.CBCEncrypt(plain.data(), out.data(), uint32_t(kMiB));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMiB));
}

void BM_OpenSsl_CbcEncrypt1MiB(benchmark::State& state) {
    const std::vector<uint8_t> plain = test_data(kMiB);
    std::vector<uint8_t> out(kMiB);
    EvpContext ctx = evp_context(EVP_aes_128_cbc(), true);
    int n = 0;
    for (auto _ : state) {
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, kIv, 1);  // restart the chain
        EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), int(kMiB));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMiB));
}

void BM_Kalv_CbcDecrypt1MiB(benchmark::State& state) {
    const std::vector<uint8_t> cipher = test_data(kMiB);
    std::vector<uint8_t> out(kMiB);
    kalv::Rijndael aes;
    aes.SetKey(kKey, 128, kIv);
    for (auto _ : state) {
        aes.ResetChain();
        aes.CBCDecrypt(cipher.data(), out.data(), uint32_t(kMiB));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMiB));
}

void BM_OpenSsl_CbcDecrypt1MiB(benchmark::State& state) {
    const std::vector<uint8_t> cipher = test_data(kMiB);
    std::vector<uint8_t> out(kMiB);
    EvpContext ctx = evp_context(EVP_aes_128_cbc(), false);
    int n = 0;
    for (auto _ : state) {
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, kIv, 0);
        EVP_DecryptUpdate(ctx.get(), out.data(), &n, cipher.data(), int(kMiB));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMiB));
}

// The launcher's one use: a start token of a typical length (key setup included).
void BM_Kalv_EncryptText(benchmark::State& state) {
    const std::string plain = "[SECTION],DBpath=C:\\Program Files\\Kalv3\\KALVO3.IB,";
    for (auto _ : state) benchmark::DoNotOptimize(kalv::EncryptText(plain));
}

BENCHMARK(BM_Kalv_EncryptBlock);
BENCHMARK(BM_OpenSsl_EncryptBlock);
BENCHMARK(BM_Kalv_DecryptBlock);
BENCHMARK(BM_Kalv_CbcEncrypt1MiB);
BENCHMARK(BM_OpenSsl_CbcEncrypt1MiB);
BENCHMARK(BM_Kalv_CbcDecrypt1MiB);
BENCHMARK(BM_OpenSsl_CbcDecrypt1MiB);
BENCHMARK(BM_Kalv_EncryptText);

}  // namespace

BENCHMARK_MAIN();
