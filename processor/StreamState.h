#pragma once

#include <cstdint>

// What the control tick decides for one stream and the per-sample scheduler consumes.
struct StreamState
{
    float increment = 0.0f;
    int position = 0;
    int period = 48000;
    float balance = 0.5f;
    float gain = 1.0f;
    float ratio = -1.0f;
    int grainLength = 960000;
    float pan = 0.5f;
    bool enabled = true;
    std::int64_t nextGrainStart = 0;
    double phase = 0.0;
    int countdown = 0;
    double beatsPerGrain = 0.0; // the beat-synced grid's spacing in quarter notes; 0 when there is none
};
