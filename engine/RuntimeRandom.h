#pragma once

#include <cstdlib>

namespace qvl
{
    /*  The C runtime's rand() reduced to 0..32767, the range the modulation and the control
        tick are written for. Runtimes with a wider RAND_MAX (glibc: 2^31 - 1) give their top
        15 bits; where RAND_MAX is 32767 this is rand() itself. Divide by 32767.0 for 0..1.
    */
    inline int runtimeRand()
    {
        return std::rand() / (RAND_MAX / 32768 + 1);
    }
}
