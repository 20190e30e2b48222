#pragma once

#include <cstdint>

namespace qvl
{
    /*  The control rate's random numbers: 0 to 32767, the range the modulators and the reverse
        decisions are written for (divide by 32767.0 for 0..1).

        Each engine has its own generator instead of the C runtime's rand(), which takes a
        process-wide lock that the audio thread could wait on, and shares one sequence with every
        other plug-in and thread in the host. It starts from the same seed every time, as an
        unseeded rand() does, so renders repeat exactly.
    */
    class ControlRandom
    {
    public:
        static constexpr int maximum = 32767;

        explicit ControlRandom (std::uint64_t seed = 1) noexcept { setSeed (seed); }

        void setSeed (std::uint64_t seed) noexcept { state = seed; }

        // SplitMix64, reduced to its top 15 bits.
        int next() noexcept
        {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            return static_cast<int> (z >> 49);
        }

    private:
        std::uint64_t state = 1;
    };
}
