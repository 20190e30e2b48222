#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// The host's musical position in quarter notes from the song's start, taken at the start of each
// block while the host plays and run on through the block at the block's tempo. Beat-synced grains
// and modulators place their grids on it, so they stay on the song's beat however the tempo
// changes and whatever the sample rate.
class SongPosition
{
public:
    // Farther than this from where the last block ended, the host jumped (a loop, a locate) and
    // the grids follow the new position at once; closer, it only rounded or changed tempo
    // inside the last block, and the grids carry on without losing or repeating a line.
    static constexpr double jumpTolerance = 1.0 / 16.0;

    // Beyond this a double no longer tells one sample from the next at any real rate.
    static constexpr double largestPosition = 2147483648.0;

    // At a block the host reports as playing. beat is the host's position, NaN when it gives none:
    // the sample position at the block's tempo stands in then.
    void startBlock (double beat, double bpm, double sampleRate, std::int64_t samplePosition, int blockLength)
    {
        const double expected = at (length);
        const bool wasRunning = running;

        tempo = std::isfinite (bpm) && bpm > 0.0 && sampleRate > 0.0 ? bpm : 0.0;
        samplesPerMinute = sampleRate > 0.0 ? 60.0 * sampleRate : 1.0;

        if (! std::isfinite (beat))
            beat = beatsIn ((double) samplePosition);

        blockStart = beat;
        length = blockLength;
        running = true;

        if (wasRunning && std::abs (beat - expected) <= jumpTolerance)
            return;

        // Each sample of the new stretch takes its own lines.
        sampleEdge = upperEdge (-1);

        // A control tick that began before the jump runs on after it, and it has already judged
        // the rest of its span as if the song went on: that rest moves with the song, so a loop
        // whose ends lie on the grid gives each of its lines one tick, the same as the first time.
        tickEdge = wasRunning ? tickEdge + (beat - expected) : std::numeric_limits<double>::quiet_NaN();
    }

    // At a playing block whose play head said nothing this time: the song runs on as it was.
    void continueBlock (int blockLength)
    {
        if (! running)
            return;

        blockStart = at (length);
        length = blockLength;
    }

    // The host stopped, or a block went by untouched: the grids start afresh at the next block.
    void stop() { running = false; }

    // The position follows a playing host, moves, and resolves single samples.
    bool isUsable() const
    {
        return running && tempo > 0.0 && std::abs (blockStart) < largestPosition;
    }

    // Position of a sample of the current block. Product first, then one division: a position
    // that is a whole number of samples from the block's start comes out exact when it can be,
    // so a line that falls on a sample or a tick boundary falls there here too.
    double at (int sampleInBlock) const { return blockStart + beatsIn ((double) sampleInBlock); }

    // The end of a sample's stretch of the song, half a sample on.
    double upperEdge (int sampleInBlock) const { return blockStart + beatsIn ((double) sampleInBlock + 0.5); }

    // Each sample owns the half-open stretch [position - half a sample, position + half a sample):
    // a grid line in it is nearest that sample. The stretches of consecutive samples join up, so
    // each line is owned once; after a jump the next stretch starts afresh.
    double sampleEdge = 0.0;

    // The end of the last control tick's span, where the next tick's span begins; NaN before the
    // first tick.
    double tickEdge = std::numeric_limits<double>::quiet_NaN();

    // How far the song moves in so many samples at the block's tempo.
    double beatsIn (double samples) const { return samples * tempo / samplesPerMinute; }

private:

    double blockStart = 0.0;
    double tempo = 0.0;
    double samplesPerMinute = 1.0;
    int length = 0;
    bool running = false;
};
