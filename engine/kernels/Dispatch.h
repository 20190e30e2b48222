#pragma once

// The run-time choice between the instruction sets' kernels. Only code compiled for the baseline
// includes this: it is what keeps the wider kernels from running on a processor without them.

#include "engine/kernels/GrainKernels.h"

namespace qvl::kernels
{
    enum class VectorSet
    {
        baseline, // SSE2 on x86-64, plain C++ elsewhere
        avx2,
        avx512    // F, VL and DQ, on top of AVX2
    };

    // The widest set this processor has and the kernels were built for.
    VectorSet supportedVectorSet() noexcept;

    // The set in use: the supported one, unless lowered (for tests and benchmarks; not thread-safe).
    // Asking for more than is supported gives what is.
    void useVectorSet (VectorSet set) noexcept;
    extern VectorSet activeVectorSet;

   #if defined(QVL_VECTOR_KERNELS)
    inline bool avx2InUse() noexcept { return activeVectorSet >= VectorSet::avx2; }
    inline bool avx512InUse() noexcept { return activeVectorSet == VectorSet::avx512; }
   #endif
}
