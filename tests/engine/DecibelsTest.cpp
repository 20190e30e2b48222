#include "engine/Decibels.h"

#include <gtest/gtest.h>

TEST (Decibels, SilenceAtAndBelowMinus100)
{
    EXPECT_EQ (qvl::decibelsToGain (-100.0f), 0.0f);
    EXPECT_EQ (qvl::decibelsToGain (-200.0f), 0.0f);
    EXPECT_GT (qvl::decibelsToGain (-99.9f), 0.0f);
}

TEST (Decibels, PowersOfTen)
{
    EXPECT_FLOAT_EQ (qvl::decibelsToGain (0.0f), 1.0f);
    EXPECT_FLOAT_EQ (qvl::decibelsToGain (-20.0f), 0.1f);
    EXPECT_FLOAT_EQ (qvl::decibelsToGain (12.0f), 3.9810717f);
}
