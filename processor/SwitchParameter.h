#pragma once

#include "processor/HostUiThread.h"
#include "processor/NumberOnlyParameter.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cmath>
#include <limits>

namespace qvl
{
    // A switch whose normalised value is only ever 0 or 1. A host may set anything in between; the
    // switch then plays off or on, and that is what it keeps, what the host reads back and what the
    // state stores. A NaN leaves it as it was. The framework's switch keeps whatever it is given
    // and its setter is out of reach here, but it reports every change through valueChanged, where
    // the value is set once more, snapped or as it was, before any listener hears of the change.
    class SwitchParameter : public NumberOnly<juce::AudioParameterBool>,
                            private juce::AsyncUpdater
    {
    public:
        SwitchParameter (const juce::ParameterID& id, const juce::String& displayName, bool defaultValue,
                         const juce::AudioParameterBoolAttributes& attributes)
            : NumberOnly (id, displayName, defaultValue, attributes),
              kept (defaultValue ? 1.0f : 0.0f)
        {
        }

        ~SwitchParameter() override { cancelPendingUpdate(); }

    protected:
        void valueChanged (bool) override
        {
            // The current value rather than the one reported: another thread may have set the
            // switch since.
            auto& parameter = static_cast<juce::AudioProcessorParameter&> (*this);
            const float current = parameter.getValue();

            if (std::isnan (current))
            {
                parameter.setValue (kept.load()); // comes back here once, with nothing to do
                return;
            }

            const float snapped = current >= 0.5f ? 1.0f : 0.0f;
            kept.store (snapped);

            if (current == snapped)
                return;

            parameter.setValue (snapped); // comes back here once, with nothing left to snap

            // A host that set the value from its own controls hears nothing of the snap while it
            // is setting it, and would keep showing and storing what it sent: it is told once that
            // is over, on its UI thread. Once for each value: a host that answers by sending the
            // same value again is not told again, or the two would go on for ever.
            if (hostUiThread::isCurrent() && echoed.exchange (current) != current)
                triggerAsyncUpdate();
        }

    private:
        void handleAsyncUpdate() override
        {
            // The message thread may have changed hands since: then the host is not told.
            if (hostUiThread::isCurrent())
                sendValueChangedMessageToListeners (static_cast<juce::AudioProcessorParameter&> (*this).getValue());
        }

        std::atomic<float> kept;
        std::atomic<float> echoed { std::numeric_limits<float>::quiet_NaN() };
    };
}
