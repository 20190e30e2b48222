#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>

namespace qvl
{

namespace detail
{
    // Each base colour made a little more saturated, so it stands out on the dark background.
    inline std::array<juce::Colour, 8> makePalette()
    {
        const juce::uint32 base[] = { 0xFFFFADAD, 0xFFFFD6A5, 0xFFFDFFB6, 0xFFCAFFBF,
                                      0xFF9BF6FF, 0xFFA0C4FF, 0xFFFFC6FF, 0xFFBDB2FF };
        std::array<juce::Colour, 8> result;
        for (size_t i = 0; i < result.size(); ++i)
            result[i] = juce::Colour (base[i]).withMultipliedSaturation (1.2f);
        return result;
    }
}

// Entries 0 to 3 colour streams 1 to 4.
inline const std::array<juce::Colour, 8> streamColours = detail::makePalette();

// One per modulator kind (LFO, Random, Macro, Audio): the palette's last four entries.
inline const std::array<juce::Colour, 4> modulatorColours { streamColours[4], streamColours[5], streamColours[6], streamColours[7] };

} // namespace qvl
