#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

/*  One flag word per parameter index: bit 0 marks a routing parameter, bit 1 a locked one.

    The editor toggles them on the message thread while host threads save and restore them and
    preset loading reads them, so every word is atomic. Nothing else is published through them,
    so relaxed order is enough. The size is set once, when the processor is built.
*/
class ParameterLockFlags
{
public:
    static constexpr int routing = 1;
    static constexpr int locked = 2;

    ParameterLockFlags() = default;
    ParameterLockFlags (const ParameterLockFlags& other) { *this = other; }

    ParameterLockFlags& operator= (const ParameterLockFlags& other)
    {
        resize (other.size());
        for (int i = 0; i < count; ++i)
            set (i, other[i]);
        return *this;
    }

    // Reallocates only when the size changes, which must not happen while other threads use the flags.
    void resize (int newCount)
    {
        newCount = juce::jmax (0, newCount);

        if (newCount != count)
        {
            words = std::make_unique<std::atomic<int>[]> ((size_t) newCount);
            count = newCount;
        }

        fill (0);
    }

    int size() const noexcept { return count; }

    // 0 past either end.
    int operator[] (int index) const noexcept
    {
        return juce::isPositiveAndBelow (index, count) ? words[(size_t) index].load (std::memory_order_relaxed) : 0;
    }

    // Ignored past either end.
    void set (int index, int value) noexcept
    {
        if (juce::isPositiveAndBelow (index, count))
            words[(size_t) index].store (value, std::memory_order_relaxed);
    }

    void toggle (int index, int bits) noexcept
    {
        if (juce::isPositiveAndBelow (index, count))
            words[(size_t) index].fetch_xor (bits, std::memory_order_relaxed);
    }

    void fill (int value) noexcept
    {
        for (int i = 0; i < count; ++i)
            set (i, value);
    }

    bool operator== (const ParameterLockFlags& other) const noexcept
    {
        if (other.count != count)
            return false;

        for (int i = 0; i < count; ++i)
            if ((*this)[i] != other[i])
                return false;

        return true;
    }

private:
    std::unique_ptr<std::atomic<int>[]> words;
    int count = 0;
};
