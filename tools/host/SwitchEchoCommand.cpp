#include "SwitchEchoCommand.h"

#include <atomic>
#include <iostream>
#include <memory>

namespace
{
    constexpr const char* switchId = "freeze";
    constexpr const char* lastSwitchId = "buffer_write_sync";
    constexpr float inBetween = 0.3f;

    // Every call the plug-in makes into the host, and whether it came on the host's UI thread
    // (here the message thread, where the editor lives and the host sets parameters).
    class HostCalls : public juce::AudioProcessorListener
    {
    public:
        HostCalls (int switchIndexToWatch, int lastSwitchIndexToWatch)
            : switchIndex (switchIndexToWatch), lastSwitchIndex (lastSwitchIndexToWatch)
        {
        }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override
        {
            count();

            if (index == switchIndex)
                ++switchReports;

            if (index == lastSwitchIndex)
                ++lastSwitchReports;
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override { count(); }
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override { count(); }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override { count(); }

        std::atomic<int> calls { 0 }, callsOffUiThread { 0 }, switchReports { 0 }, lastSwitchReports { 0 };

    private:
        void count()
        {
            ++calls;

            if (! juce::MessageManager::getInstance()->isThisTheMessageThread())
                ++callsOffUiThread;
        }

        const int switchIndex, lastSwitchIndex;
    };

    // Lets the host's message loop run until the condition holds; the limit only ends a broken run.
    template <typename Condition>
    bool dispatchUntil (Condition done, double milliseconds = 60000.0)
    {
        const auto until = juce::Time::getMillisecondCounterHiRes() + milliseconds;

        while (! done() && juce::Time::getMillisecondCounterHiRes() < until)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

        return done();
    }

    std::unique_ptr<juce::AudioProcessorEditor> openEditor (juce::AudioPluginInstance& instance)
    {
        return openEditorWindow (instance, "qvl_host switch-echo");
    }
}

int runSwitchEcho (PluginSession& session, const HostOptions& options)
{
    if (! checkDisplay())
        return ExitCode::skipped;

    juce::String error;
    auto* theSwitch = session.findParameter (switchId, error);
    auto* lastSwitch = session.findParameter (lastSwitchId, error);

    if (theSwitch == nullptr || lastSwitch == nullptr)
    {
        std::cerr << "error: " << error << '\n';
        return ExitCode::failed;
    }

    auto& instance = session.getInstance();
    HostCalls calls (theSwitch->getParameterIndex(), lastSwitch->getParameterIndex());
    instance.addListener (&calls);

    // The host sets values as from its own controls: to the plug-in, with nothing reported back.
    // An insisting host answers every report of the switch by setting the value in between again,
    // later, on its message thread, as long as this runs.
    struct Answer : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float) override
        {
            juce::MessageManager::callAsync ([parameter = parameter, answered = answered]
            {
                parameter->setValue (inBetween);
                ++*answered;
            });
        }

        void parameterGestureChanged (int, bool) override {}

        juce::AudioProcessorParameter* parameter = nullptr;
        std::shared_ptr<std::atomic<int>> answered = std::make_shared<std::atomic<int>> (0);
    } answer;

    answer.parameter = theSwitch;
    int result = ExitCode::ok;

    if (options.insist)
    {
        theSwitch->addListener (&answer);
        auto editor = openEditor (instance);
        theSwitch->setValue (inBetween);

        if (editor == nullptr || ! dispatchUntil ([&] { return answer.answered->load() > 0; }))
            result = ExitCode::failed;
    }
    else
    {
        for (int round = 0; round < options.rounds && result == ExitCode::ok; ++round)
        {
            auto editor = openEditor (instance);

            if (editor == nullptr)
                result = ExitCode::failed;

            // A new value each round: the same value again is not reported again.
            theSwitch->setValue (inBetween + 0.0001f * (float) round);
        }
    }

    if (result == ExitCode::ok)
    {
        auto editor = openEditor (instance);
        lastSwitch->setValue (inBetween);

        if (editor == nullptr || ! dispatchUntil ([&] { return calls.lastSwitchReports.load() > 0; }))
            result = ExitCode::failed;
    }

    std::cout << "host calls: " << calls.calls.load() << '\n'
              << "host calls off the ui thread: " << calls.callsOffUiThread.load() << '\n'
              << "switch reports: " << calls.switchReports.load() << '\n'
              << "last switch reports: " << calls.lastSwitchReports.load() << '\n';

    if (options.insist)
        std::cout << "answers: " << answer.answered->load() << '\n';

    theSwitch->removeListener (&answer);
    instance.removeListener (&calls);

    if (result != ExitCode::ok)
        std::cerr << "error: the plug-in reported nothing where it should have\n";

    return result;
}
