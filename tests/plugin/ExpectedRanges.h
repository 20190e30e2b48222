#pragma once

#include <algorithm>
#include <array>
#include <cmath>

// An independent model of the plug-in's value ranges, written from the documented start, end and
// centre of each range, so tests can compare the real ranges and text conversions against it.
namespace qvl::test
{
    struct RangeSpec
    {
        double start = 0.0;
        double end = 1.0;
        double centre = 0.5;
        double interval = 0.0;
    };

    // The skew that puts normalised 0.5 on the centre, in single precision as the plug-in does.
    inline float expectedSkew (const RangeSpec& r)
    {
        return std::log (0.5f) / std::log ((float) (r.centre - r.start) / (float) (r.end - r.start));
    }

    inline double toNormalised (const RangeSpec& r, double x)
    {
        x = std::clamp (x, r.start, r.end);
        const double proportion = (x - r.start) / (r.end - r.start);
        const double skew = expectedSkew (r);
        return skew == 1.0 ? proportion : std::pow (proportion, skew);
    }

    inline double fromNormalised (const RangeSpec& r, double p)
    {
        p = std::clamp (p, 0.0, 1.0);
        const double skew = expectedSkew (r);
        if (skew != 1.0 && p > 0.0)
            p = std::exp (std::log (p) / skew);
        return r.start + (r.end - r.start) * p;
    }

    enum class TimedFamily { bufferSize, grainLength, streamRate, modulatorRate };

    // Entry tb (0..18) of a family's table of ranges.
    inline RangeSpec timedRange (TimedFamily family, int tb)
    {
        if (tb >= 3)
        {
            // Bar, then plain, dotted and triplet notes "1/2" to "1/32".
            static const double ends[16] = { 4, 2, 4, 8, 16, 32, 2, 4, 8, 16, 32, 2, 4, 8, 16, 32 };
            return { 0.1, ends[tb - 3], 1.0 };
        }

        static const RangeSpec bufferSize[3] = { { 10, 5000, 500 }, { 0.01, 5, 0.5 }, { 0.2, 100, 2 } };
        static const RangeSpec grainLength[3] = { { 1, 5000, 250 }, { 0.001, 5, 0.2 }, { 0.2, 1000, 10 } };
        static const RangeSpec streamRate[3] = { { 0, 1000, 100 }, { 0, 1, 0.1 }, { 0, 10000, 10 } };
        static const RangeSpec modulatorRate[3] = { { 6.666667, 1000, 500 }, { 0.006666667, 10, 0.5 }, { 0, 150, 1 } };

        switch (family)
        {
            case TimedFamily::bufferSize:    return bufferSize[tb];
            case TimedFamily::grainLength:   return grainLength[tb];
            case TimedFamily::streamRate:    return streamRate[tb];
            case TimedFamily::modulatorRate: return modulatorRate[tb];
        }

        return {};
    }

    inline const std::array<const char*, 19>& expectedLongNames()
    {
        static const std::array<const char*, 19> names {
            "ms", "s", "Hz", "Bar", "1/2", "1/4", "1/8", "1/16", "1/32",
            "Dotted 1/2", "Dotted 1/4", "Dotted 1/8", "Dotted 1/16", "Dotted 1/32",
            "Triplet 1/2", "Triplet 1/4", "Triplet 1/8", "Triplet 1/16", "Triplet 1/32"
        };
        return names;
    }

    inline const std::array<const char*, 19>& expectedShortNames()
    {
        static const std::array<const char*, 19> names {
            "ms", "s", "Hz", "Bar", "1/2", "1/4", "1/8", "1/16", "1/32",
            "D 1/2", "D 1/4", "D 1/8", "D 1/16", "D 1/32",
            "T 1/2", "T 1/4", "T 1/8", "T 1/16", "T 1/32"
        };
        return names;
    }
}
