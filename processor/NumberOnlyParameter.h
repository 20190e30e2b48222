#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>

namespace qvl
{
    // One of the framework's parameters that never takes a value that is not a number. The
    // framework's VST3 wrapper hands a host's NaN straight to setValue, and the framework's
    // clamping keeps it: it would stay in every smoother, phase and saved state it reached.
    //
    // setValue is out of reach here, but it converts through getNormalisableRange, which is not:
    // this range is the framework's own in every respect except that it snaps NaN to the value the
    // parameter holds, so a NaN leaves it as it was. Everything that converts through the
    // parameter (its setter, its texts, the parameter tree, attachments told of the NaN) sees the
    // same. A switch stores what it is given without converting; SwitchParameter undoes a NaN.
    template <typename Base>
    class NumberOnly : public Base
    {
    public:
        using Base::Base;

        const juce::NormalisableRange<float>& getNormalisableRange() const override { return numberRange; }

    private:
        juce::NormalisableRange<float> makeNumberRange() const
        {
            const auto& own = Base::getNormalisableRange();

            juce::NormalisableRange<float> numbers (
                own.start, own.end,
                [&own] (float, float, float proportion) { return own.convertFrom0to1 (proportion); },
                [&own] (float, float, float real) { return own.convertTo0to1 (real); },
                [this, &own] (float, float, float real) { return std::isnan (real) ? (float) this->get() : own.snapToLegalValue (real); });

            numbers.interval = own.interval;
            numbers.skew = own.skew;
            numbers.symmetricSkew = own.symmetricSkew;
            return numbers;
        }

        const juce::NormalisableRange<float> numberRange = makeNumberRange();
    };

    using FloatParameter = NumberOnly<juce::AudioParameterFloat>;
    using IntParameter = NumberOnly<juce::AudioParameterInt>;
}
