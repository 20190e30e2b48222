#pragma once

#include <string>
#include <vector>

namespace qvl::hosttest
{
    enum class Kind { boolean, integer, continuous };

    struct ExpectedParameter
    {
        std::string id;
        std::string name;
        Kind kind = Kind::continuous;
        int minimum = 0;            // integers only
        int maximum = 1;
        double defaultNormalised = 0.0;
        bool decibelLabel = false;
    };

    // The 449 host parameters in index order, built from the naming and numbering rules.
    const std::vector<ExpectedParameter>& expectedParameters();

    // The normalised value a parameter holds after being set to `normalised`: switches flip at
    // one half, integers round to the nearest step, continuous values stay as they are.
    double snappedNormalised (const ExpectedParameter& parameter, double normalised);
}
