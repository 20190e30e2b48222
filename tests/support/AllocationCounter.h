#pragma once

#include <cstddef>

namespace qvl::test
{
    // Counts calls to the global operator new made on this thread while an instance is alive.
    class ScopedAllocationCounter
    {
    public:
        ScopedAllocationCounter();
        ~ScopedAllocationCounter();

        std::size_t count() const;

    private:
        std::size_t startCount;
        bool wasCounting;
    };
}
