#pragma once

namespace qvl
{
    // Input beyond this is held at it. 16 (+24 dBFS) is far above any level a musician feeds an
    // effect; with every gain at +12 dB and 600 grains, the loop, the grains and the mix stay many
    // orders of magnitude below a float's range, and even feedback at 1 would take ages to close
    // the gap. It is also low enough that a burst from a blown-up source upstream fades from the
    // loop within seconds, as any loud input does, instead of sounding on for minutes.
    constexpr float inputBound = 16.0f;

    // NaN and infinity read as silence; anything else beyond the bound is held at it. Every sample
    // within the bound is left exactly as it is.
    void limitInput (float* samples, int numSamples) noexcept;

    bool allFinite (const float* samples, int numSamples) noexcept;
}
