#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace qvl::hostUiThread
{
    // A VST3 host may be called back (IComponentHandler) only on its UI thread. On Linux the
    // framework's VST3 wrapper runs the message loop on a thread of its own while no editor is
    // attached and on the host's UI thread while one is, so being on the message thread proves
    // nothing there. Hosts create editors on their UI thread, and so name it.
    inline std::atomic<juce::Thread::ThreadID> editorThread { nullptr };

    // Called where the editor is created.
    inline void noteEditorCreated()
    {
        editorThread.store (juce::Thread::getCurrentThreadId());
    }

    // True only where the host may be called back. Other hosts (in-process, tests) run their UI on
    // the message thread.
    inline bool isCurrent()
    {
        if (! juce::MessageManager::existsAndIsCurrentThread())
            return false;

        if (juce::PluginHostType::getPluginLoadedAs() != juce::AudioProcessor::wrapperType_VST3)
            return true;

        return juce::Thread::getCurrentThreadId() == editorThread.load();
    }
}
