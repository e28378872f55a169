// The key buffer of the text cipher is zeroed on every path, also when a failure
// (here: memory exhaustion at each allocation in turn) leaves the operation early.
// This executable replaces the global allocator: every block handed back is checked
// for the passphrase before it is released.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "cipher/text_cipher.h"

namespace {

constexpr char kPassphrase[] = "mild_sun_rise";
constexpr size_t kHeader = 16;  // keeps the caller's block 16-byte aligned

long g_allocations = 0;
long g_fail_at = 0;           // 1-based allocation to fail; 0 = none
long g_released_with_key = 0;  // blocks released while still holding the passphrase

bool holds_passphrase(const unsigned char* data, size_t n) {
    const size_t k = sizeof kPassphrase - 1;
    for (size_t i = 0; i + k <= n; ++i) {
        if (std::memcmp(data + i, kPassphrase, k) == 0) return true;
    }
    return false;
}

void* allocate(size_t n) {
    if (g_fail_at != 0 && ++g_allocations == g_fail_at) throw std::bad_alloc();
    auto* base = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (base == nullptr) throw std::bad_alloc();
    std::memcpy(base, &n, sizeof n);
    return base + kHeader;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    auto* base = static_cast<unsigned char*>(p) - kHeader;
    size_t n;
    std::memcpy(&n, base, sizeof n);
    if (holds_passphrase(static_cast<unsigned char*>(p), n)) ++g_released_with_key;
    std::free(base);
}

struct Counting {
    explicit Counting(long fail_at) {
        g_allocations = 0;
        g_released_with_key = 0;
        g_fail_at = fail_at;
    }
    ~Counting() { g_fail_at = 0; }
};

TEST(KeyWipe, NoReleasedBlockHoldsTheKeyOnAnyPath) {
    const std::string plain(40, 'p');  // long enough that every buffer lives on the heap
    const std::string token = kalv::EncryptText(plain);
    for (const bool decrypt : {false, true}) {
        bool completed = false;
        for (long fail_at = 1; !completed && fail_at < 50; ++fail_at) {
            Counting counting(fail_at);
            try {
                if (decrypt) {
                    kalv::DecryptText(token);
                } else {
                    kalv::EncryptText(plain);
                }
                completed = true;
            } catch (const std::bad_alloc&) {
                // The failure passes to the caller unchanged.
            }
            EXPECT_EQ(g_released_with_key, 0)
                << (decrypt ? "DecryptText" : "EncryptText") << " failing at allocation " << fail_at;
        }
        EXPECT_TRUE(completed) << "the operation never completed";
    }
}

}  // namespace

void* operator new(size_t n) { return allocate(n); }
void* operator new[](size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
