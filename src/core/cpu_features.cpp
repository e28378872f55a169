#include "core/cpu_features.h"

#include <cstdint>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <cpuid.h>
#define KALV_HAVE_CPUID 1
#else
#define KALV_HAVE_CPUID 0
#endif

namespace kalv {
namespace {

#if KALV_HAVE_CPUID
uint64_t read_xcr0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
}
#endif

CpuFeatures detect() {
    CpuFeatures f;
#if KALV_HAVE_CPUID
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.pclmul = (c & bit_PCLMUL) != 0;
    const bool os_saves_state = (c & bit_OSXSAVE) != 0;
    if (__get_cpuid_max(0, nullptr) < 7) return f;
    __cpuid_count(7, 0, a, b, c, d);
    f.bmi2 = (b & bit_BMI2) != 0;
    // Wide registers are usable only when the system saves them on a switch: XCR0
    // must enable the SSE, AVX, opmask and both upper ZMM states (bits 1, 2, 5-7).
    const bool zmm_state = os_saves_state && (read_xcr0() & 0xE6) == 0xE6;
    f.vpclmul512 = f.pclmul && zmm_state && (b & bit_AVX512F) && (c & bit_VPCLMULQDQ);
#endif
    return f;
}

}  // namespace

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = detect();
    return features;
}

}  // namespace kalv
