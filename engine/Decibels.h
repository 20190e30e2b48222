#pragma once

namespace qvl
{
    // 0 at or below -100 dB, else 10^(dB/20).
    float decibelsToGain (float decibels);
}
