#include "processor/InputGuard.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace qvl
{
    // Both loops are written so that the compiler runs them several samples at a time: compares
    // that become masks, no early exit.

    void limitInput (float* samples, int numSamples) noexcept
    {
        for (int i = 0; i < numSamples; ++i)
        {
            const float x = samples[i];
            const float size = std::abs (x); // NaN fails both compares
            const float held = size <= std::numeric_limits<float>::max() ? std::copysign (inputBound, x) : 0.0f;
            samples[i] = size <= inputBound ? x : held;
        }
    }

    bool allFinite (const float* samples, int numSamples) noexcept
    {
        // Infinity and NaN are the floats with every exponent bit set: adding one more to the
        // exponent carries into the sign bit for them alone.
        std::uint32_t carries = 0;
        for (int i = 0; i < numSamples; ++i)
        {
            std::uint32_t bits;
            std::memcpy (&bits, samples + i, sizeof (bits));
            carries |= (bits & 0x7f800000u) + 0x00800000u;
        }
        return (carries & 0x80000000u) == 0;
    }
}
