#include "engine/Decibels.h"

#include <cmath>

namespace qvl
{
    float decibelsToGain (float decibels)
    {
        return decibels > -100.0f ? std::pow (10.0f, decibels * 0.05f) : 0.0f;
    }
}
