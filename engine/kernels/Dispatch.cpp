#include "engine/kernels/Dispatch.h"

namespace qvl::kernels
{
    namespace
    {
        VectorSet detectVectorSet() noexcept
        {
           #if defined(QVL_VECTOR_KERNELS)
            __builtin_cpu_init();
            if (__builtin_cpu_supports ("avx2") == 0)
                return VectorSet::baseline;
            if (__builtin_cpu_supports ("avx512f") != 0 && __builtin_cpu_supports ("avx512vl") != 0
                && __builtin_cpu_supports ("avx512dq") != 0)
                return VectorSet::avx512;
            return VectorSet::avx2;
           #else
            return VectorSet::baseline;
           #endif
        }

        const VectorSet supported = detectVectorSet();
    }

    // Before its initialiser has run this reads as the baseline, which every processor has.
    VectorSet activeVectorSet = supported;

    VectorSet supportedVectorSet() noexcept
    {
        return supported;
    }

    void useVectorSet (VectorSet set) noexcept
    {
        activeVectorSet = set < supported ? set : supported;
    }
}
