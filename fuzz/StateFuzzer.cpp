// Feeds arbitrary bytes to the host-state reader. Whatever the input, the processor must keep a
// state that saves as a readable "PARAMETERS" tree with one lock flag per parameter, and every
// parameter must hold a finite value.
#include "processor/PluginProcessor.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

namespace
{
    QuorvalisPluginAudioProcessor* processor = nullptr;

    [[noreturn]] void fail (const char* what)
    {
        fprintf (stderr, "state check failed: %s\n", what);
        std::abort();
    }
}

namespace
{
    void writeSeed (const juce::File& folder, const juce::String& name, QuorvalisPluginAudioProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        folder.getChildFile (name).replaceWithData (block.getData(), block.getSize());
    }

    // Seeds from the current code, so the corpus always starts from this build's own format.
    void writeSeeds (const juce::File& folder)
    {
        folder.createDirectory();
        QuorvalisPluginAudioProcessor fresh;
        writeSeed (folder, "default.state", fresh);

        fresh.parameterLockFlags.set (3, 2);
        fresh.parameterLockFlags.set (129, 3);
        fresh.streamParameters[1].isEnabled->setValueNotifyingHost (1.0f);
        fresh.modulationSlotParameters.getReference (0).target->setValueNotifyingHost (0.5f);
        fresh.programProperties.setMacroName (1, "Width");
        writeSeed (folder, "edited.state", fresh);
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Never shut down: the process ends with the fuzzer, and a static initialiser would be
    // destroyed after the framework's own statics.
    juce::initialiseJuce_GUI();

    if (const char* seedFolder = std::getenv ("QVL_FUZZ_SEED_DIR"))
        writeSeeds (juce::File (seedFolder));

    processor = new QuorvalisPluginAudioProcessor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    if (size > (std::size_t) std::numeric_limits<int>::max())
        return 0;

    processor->setStateInformation (data, (int) size);

    juce::MemoryBlock saved;
    processor->getStateInformation (saved);
    const auto tree = juce::ValueTree::readFromData (saved.getData(), saved.getSize());

    if (! tree.hasType ("PARAMETERS"))
        fail ("saved state is not a parameter tree");

    if (processor->parameterLockFlags.size() != processor->getParameters().size())
        fail ("lock flag count changed");

    const auto* flags = tree.getChildWithName ("PARAMETER_LOCK").getProperty ("parameter_lock_flags").getArray();
    if (flags == nullptr || flags->size() != processor->getParameters().size())
        fail ("saved lock list has the wrong length");

    for (auto* parameter : processor->getParameters())
        if (! std::isfinite (parameter->getValue()))
            fail ("a parameter holds a value that is not finite");

    if (tree.getChildWithName ("PROGRAM_PROPERTIES").getNumProperties() < 4)
        fail ("macro names missing");

    return 0;
}
