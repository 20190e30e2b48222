#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

// Plain pointers to the parameter objects, filled once by the layout and read-only afterwards,
// so the audio thread never looks a parameter up by ID.

struct StreamParameters
{
    juce::AudioParameterBool* isEnabled = nullptr;
    juce::AudioParameterFloat* increment = nullptr;
    juce::AudioParameterFloat* position = nullptr;
    juce::AudioParameterFloat* rate = nullptr;
    juce::AudioParameterInt* rateTimebase = nullptr;
    juce::AudioParameterInt* rateSync = nullptr;
    juce::AudioParameterFloat* balance = nullptr;
    juce::AudioParameterFloat* grainVolumeDb = nullptr;
    juce::AudioParameterFloat* grainPitch = nullptr;
    juce::AudioParameterInt* grainPitchQuantize = nullptr;
    juce::AudioParameterFloat* reverseProbability = nullptr;
    juce::AudioParameterFloat* grainLength = nullptr;
    juce::AudioParameterInt* grainLengthTimebase = nullptr;
    juce::AudioParameterFloat* grainPan = nullptr;
    juce::AudioParameterBool* adsrEnabled = nullptr;
    juce::AudioParameterFloat* adsrAttack = nullptr;
    juce::AudioParameterFloat* adsrDecay = nullptr;
    juce::AudioParameterFloat* adsrSustain = nullptr;
    juce::AudioParameterFloat* adsrRelease = nullptr;

    // The nineteen handles in the order above, which copying between streams follows.
    std::array<juce::RangedAudioParameter*, 19> all() const
    {
        return { isEnabled, increment, position, rate, rateTimebase, rateSync, balance, grainVolumeDb, grainPitch,
                 grainPitchQuantize, reverseProbability, grainLength, grainLengthTimebase, grainPan, adsrEnabled,
                 adsrAttack, adsrDecay, adsrSustain, adsrRelease };
    }
};

struct LfoParameters
{
    juce::AudioParameterFloat* rate = nullptr;
    juce::AudioParameterInt* timebase = nullptr;
    juce::AudioParameterInt* sync = nullptr;
    juce::AudioParameterInt* shape = nullptr;
};

struct RandomParameters
{
    juce::AudioParameterFloat* rate = nullptr;
    juce::AudioParameterInt* timebase = nullptr;
    juce::AudioParameterInt* sync = nullptr;
    juce::AudioParameterFloat* probability = nullptr;

    // Written by the editor or preset loading, taken by the control tick.
    std::unique_ptr<std::atomic<std::uint8_t>> triggerRequest = std::make_unique<std::atomic<std::uint8_t>> (0);
    std::unique_ptr<std::atomic<std::uint8_t>> clearRequest = std::make_unique<std::atomic<std::uint8_t>> (0);
};

struct AudioFollowerParameters
{
    juce::AudioParameterFloat* gain = nullptr;
    juce::AudioParameterFloat* rise = nullptr;
    juce::AudioParameterFloat* fall = nullptr;
};

struct ModulationSlotParameters
{
    juce::AudioParameterInt* target = nullptr;
    juce::AudioParameterInt* modulatorIndex = nullptr;
    juce::AudioParameterFloat* amount = nullptr;
    juce::AudioParameterBool* isBipolar = nullptr;
    juce::AudioParameterBool* isBypassed = nullptr;
};

// Fixed sizes of the parameter families.
namespace ParameterCounts
{
    constexpr int streams = 4;
    constexpr int parametersPerStream = 19;
    constexpr int lfos = 4;
    constexpr int macros = 4;
    constexpr int randoms = 4;
    constexpr int audioFollowers = 2;
    constexpr int modulationSlots = 64;
    constexpr int total = 449;
    constexpr int modulationTargets = 450;
}

juce::String lfoShapeName (int shape, int maximumStringLength);
