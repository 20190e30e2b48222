// The note-quantize keyboard: key layout and its binding to a pitch-quantize mask.

#include "editor/components/NoteQuantizeComponent.h"
#include "tests/editor/EditorTestSupport.h"

using namespace qvl::test;

namespace
{
    struct NoteQuantizeFixture : EditorFixture, juce::ChangeListener
    {
        void SetUp() override { recorder.watched = quantize.getParameterIndex(); }
        void changeListenerCallback (juce::ChangeBroadcaster*) override { ++keyChanges; }

        void setFromHost (int mask) // as host automation arrives: set, then tell the listeners
        {
            quantize.setValue (quantize.convertTo0to1 ((float) mask));
            quantize.sendValueChangedMessageToListeners (quantize.getValue());
        }

        int keyMask() const
        {
            int mask = 0;
            for (int i = 0; i < 12; ++i)
                mask |= keyboard.keys[i]->getToggleState() ? 1 << i : 0;
            return mask;
        }

        juce::RangedAudioParameter& quantize = param ("stream_1_grain_pitch_quantize");
        NoteQuantizeComponent keyboard;
        HostRecorder recorder { processor };
        int keyChanges = 0;
    };
}

TEST_F (NoteQuantizeFixture, ParameterSetsTheKeysAndClicksWriteOneGestureEach)
{
    keyboard.addChangeListener (this);
    for (const int mask : { 0, 4095, 2741, 0x402 })
    {
        setFromHost (mask); // found when the attachment is made, then changed by the host
        NoteQuantizeComponentParameterAttachment attachment (quantize, keyboard);
        EXPECT_EQ (keyMask(), mask);
        setFromHost (0), setFromHost (mask);
        EXPECT_EQ (keyMask(), mask);
        pumpMessages();
    }
    keyboard.removeChangeListener (this);
    EXPECT_EQ (keyChanges, 0); // nothing is written back
    EXPECT_EQ (recorder.begins.load(), 0);

    setFromHost (0);
    NoteQuantizeComponentParameterAttachment attachment (quantize, keyboard);
    const std::pair<int, int> clicks[] = { { 0, 1 }, { 11, 0x801 }, { 5, 0x821 }, { 0, 0x820 } }; // key, mask after

    for (int n = 0; n < 4; ++n)
    {
        keyboard.keys[clicks[n].first]->triggerClick();
        ASSERT_TRUE (pumpMessagesUntil ([&] { return recorder.ends.load() == n + 1; }));
        EXPECT_EQ (juce::roundToInt (quantize.convertFrom0to1 (quantize.getValue())), clicks[n].second);
        EXPECT_EQ (recorder.begins.load(), n + 1);
    }
}

TEST_F (NoteQuantizeFixture, KeysFormAVerticalOctave)
{
    struct Case { int width, stripLeft, stripRight, blackRight, whiteLeft; };
    for (const auto& c : { Case { 80, 17, 63, 40, 40 }, Case { 81, 17, 64, 41, 40 } }) // 46 and 47 px strips
    {
        keyboard.setSize (c.width, 72);
        const auto key = [this] (int i) { return keyboard.keys[i]->getBounds(); };

        for (int i = 0; i < 12; ++i)
        {
            const bool white = ((0xAB5 >> i) & 1) != 0;
            EXPECT_EQ (key (i).getX(), white ? c.whiteLeft : c.stripLeft) << c.width << " key " << i;
            EXPECT_EQ (key (i).getRight(), white ? c.stripRight : c.blackRight) << c.width << " key " << i;
        }

        EXPECT_EQ (key (0).getBottom(), 72); // C at the bottom, B at the top
        EXPECT_EQ (key (11).getY(), 0);
        EXPECT_EQ (key (1).getY(), 56);      // C sharp half a key above C
        EXPECT_GE (key (3).getY() - key (6).getBottom(), 9); // an empty slot beside E and F
        for (const int black : { 1, 3, 6, 8 })
            EXPECT_GT (key (black).getY(), key (10).getY()); // A sharp is the topmost black key...
        EXPECT_EQ (key (10).getY(), 5);                      // ...with an empty slot above it
    }
}
