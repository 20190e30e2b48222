#pragma once

// Drives qvl_host's editor window on the X display as a person would: xdotool moves, clicks and
// types, ImageMagick's import photographs. Positions are given in editor coordinates at scale 1
// (as the editor built in memory lays them out) and scaled by the window's actual width.

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "tests/support/MessagePump.h"

#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qvl::guitest
{
    // Why real-window tests cannot run here (no DISPLAY, no xdotool or import), or empty.
    std::string whyNoDisplay();

    class HostEditorWindow
    {
    public:
        // The host runs with HOME and the XDG folders inside home, and writes its console output
        // into workDir. editorWidth is the width of the editor at scale 1.
        HostEditorWindow (std::string workDir, std::string home, int editorWidth);
        ~HostEditorWindow();

        // Starts `qvl_host editor <bundle> arguments...` and waits until its window of that name
        // shows and has been painted. Records a failure and returns false when it does not.
        bool open (const std::vector<std::string>& arguments, const std::string& windowName = "qvl_host editor");

        // Turns to another window of the same host (waiting for it as open does) and raises it:
        // the clicks, keys and captures that follow are for it.
        bool useWindow (const std::string& windowName);

        // The window's area on the screen, as the X server reports it now.
        juce::Rectangle<int> windowArea() const;

        void moveTo (juce::Point<int> editorPoint);
        void click (juce::Point<int> editorPoint);
        void doubleClick (juce::Point<int> editorPoint);
        void drag (juce::Point<int> from, juce::Point<int> to);
        void type (const std::string& text);
        void key (const std::string& keys);

        // The window as it looks now; also kept as <workDir>/<name>.png when a name is given.
        juce::Image capture (const std::string& name = {});

        // The whole screen, kept as <workDir>/<name>.png.
        void captureScreen (const std::string& name);

        // Polls until the area (editor coordinates) looks different from `before`.
        bool waitForChange (juce::Rectangle<int> area, const juce::Image& before, int timeoutMs = 30000);

        // Captures until two in a row agree on the area, and returns the last.
        juce::Image settled (juce::Rectangle<int> area, int timeoutMs = 30000);

        // Samples the host's first instance has played so far (it answers SIGUSR1 in its output),
        // or -1 when it does not answer.
        long long played();

        // Asks the host to close (SIGTERM: it still writes its output and state) and waits for it.
        // Returns its exit code, or -1 when it had to be killed; a SIGPIPE it reported fails the test.
        int close();

        // The host's console output (valid after close).
        std::string output() const;

    private:
        juce::Point<int> toScreen (juce::Point<int> editorPoint) const;
        bool windowIsPainted();

        std::string workDir, home;
        int editorWidth;
        pid_t pid = -1;
        std::string windowId, outputFile, errorFile;
        int captures = 0;
    };

    // The size of the X screen.
    juce::Rectangle<int> screenArea();

    // How many pixels of the area (editor coordinates, editor width at scale 1) differ clearly.
    int countChangedPixels (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int editorWidth);

    class EditorLayout;

    // What every real-window test needs: skipped without a display, a work folder, the editor's
    // layout and the host's window.
    class RealWindowTest : public ::testing::Test
    {
    protected:
        RealWindowTest();
        ~RealWindowTest() override;

        void SetUp() override;

        // The host's window, playing a 220 Hz sine through the plug-in; it writes <name>.wav and
        // <name>.state into the work folder when it closes.
        std::unique_ptr<HostEditorWindow> open (const std::string& name, std::vector<std::string> extra = {},
                                                const std::string& windowName = "qvl_host editor");

        std::string path (const std::string& file) const { return work + "/" + file; }

        juce::Rectangle<int> area (const juce::Component& c) const;

        void closeWindow (HostEditorWindow& window);

        // A state the host saved, as XML.
        std::unique_ptr<juce::XmlElement> savedTree (const std::string& name);

        std::string work, home;
        std::unique_ptr<EditorLayout> layout;
    };

    // A parameter's value as a preset file stores it, or NaN when it is not there.
    double presetValue (const juce::File& preset, const juce::String& id);

    // Polls until the condition holds; the limit only ends a broken test.
    template <typename Condition>
    bool eventually (Condition&& condition, int timeoutMs = 60000)
    {
        return qvl::test::waitFor (condition, timeoutMs, 50);
    }
}
