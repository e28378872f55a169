// What the running x86-64 CPU (and the system, for the wide register state) offers
// beyond the baseline the whole build targets. Read once, from cpuid and XCR0; the
// code compiled for more (CRC-32 folding, the inflate loop with BMI2) is chosen
// from these at run time.
#pragma once

namespace kalv {

struct CpuFeatures {
    bool pclmul = false;      // PCLMULQDQ
    bool vpclmul512 = false;  // VPCLMULQDQ on 512-bit vectors: AVX-512F, with ZMM state saved by the system
    bool bmi2 = false;        // SHRX, SHLX, BZHI: shifts by a register count without CL and flags
};

const CpuFeatures& cpu_features();

}  // namespace kalv
