// Feeds arbitrary bytes to the host-state reader. Whatever the input, the processor must keep a
// state that saves as a readable "PARAMETERS" tree with one lock flag per parameter, every
// parameter must hold a finite value kept as a number, and a preset saved from the state must
// load back with the same values and macro names.
#include "processor/PluginProcessor.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <map>
#include <stdexcept>

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
    void writeSeed (const juce::File& folder, const juce::String& name, const juce::ValueTree& tree)
    {
        juce::MemoryOutputStream stream;
        tree.writeToStream (stream);
        folder.getChildFile (name).replaceWithData (stream.getData(), stream.getDataSize());
    }

    void writeSeed (const juce::File& folder, const juce::String& name, QuorvalisPluginAudioProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        folder.getChildFile (name).replaceWithData (block.getData(), block.getSize());
    }

    // A parameter tree holding one value, as text: every form of number a person could write.
    juce::ValueTree withTextValue (const juce::String& value)
    {
        juce::ValueTree parameter ("PARAM");
        parameter.setProperty ("id", "gain_db_dry", nullptr);
        parameter.setProperty ("value", value, nullptr);
        juce::ValueTree tree ("PARAMETERS");
        tree.appendChild (parameter, nullptr);
        return tree;
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

        const char* const numbers[] = { "1e4294967297", "-1e-4294967297", "1E+0000000000000000000005", "+.5", "5.", " -6 ",
                                        "0.30000000000000000000000000000000000000001", "1e-310", "1.8e308", "0x10", "1,5",
                                        "1e39", "-1e999", "3.4028235e+38", "-6,5" };
        int n = 0;
        for (const char* number : numbers)
            writeSeed (folder, "number-" + juce::String (++n) + ".state", withTextValue (number));

        writeSeed (folder, "padded-zeros.state", withTextValue ("0." + juce::String::repeatedString ("0", 2000)));
        writeSeed (folder, "padded-blanks.state", withTextValue ("-6" + juce::String::repeatedString (" ", 2000)));

        auto named = withTextValue ("0");
        juce::ValueTree names ("PROGRAM_PROPERTIES");
        names.setProperty ("macro_1", juce::String::repeatedString ("n", 1100), nullptr);
        names.setProperty ("macro_2", juce::String (juce::CharPointer_UTF8 ("W\xc3\xaf" "dth <&> \"\t\r\n\x01")), nullptr);
        named.appendChild (names, nullptr);
        writeSeed (folder, "macro-names.state", named);

        // A parameter named twice, the second time by a child of another type.
        auto twice = withTextValue ("0");
        twice.appendChild (juce::ValueTree ("PARAM").setProperty ("id", "gain_db_dry", nullptr).setProperty ("value", -50.0, nullptr), nullptr);
        twice.appendChild (juce::ValueTree ("PROGRAM_PROPERTIES").setProperty ("id", "gain_db_dry", nullptr).setProperty ("value", 3.0, nullptr), nullptr);
        writeSeed (folder, "named-twice.state", twice);
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Never shut down: the process ends with the fuzzer, and a static initialiser would be
    // destroyed after the framework's own statics.
    juce::initialiseJuce_GUI();

    // As a host, or another plug-in in its process, may: every text written under a locale with
    // a decimal comma must still read back.
    try { std::locale::global (std::locale ("de_DE.UTF-8")); } catch (const std::runtime_error&) {}

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

    for (const auto& child : tree)
        if (child.hasType ("PARAM") && child["value"].isString())
            fail ("a value kept as text");

    const auto preset = processor->presets.getOptions().getState();
    const auto loaded = processor->presets.readPresetText (processor->presets.getPresetText());

    if (! loaded.isValid())
        fail ("a preset saved from the state does not load");

    const auto names = processor->programProperties.getMacroNames();
    const auto loadedNames = loaded.getChildWithName ("PROGRAM_PROPERTIES");

    for (int k = 0; k < names.size(); ++k)
        if (std::strcmp (loadedNames["macro_" + juce::String (k + 1)].toString().toRawUTF8(), names[k].toRawUTF8()) != 0)
            fail ("a macro name changed on its way through a saved preset");

    // The reader keeps each parameter's first "PARAM".
    std::map<juce::String, float> values;
    for (const auto& child : preset)
        if (child.hasType ("PARAM"))
            values.emplace (child["id"].toString(), (float) child["value"]);

    for (const auto& child : loaded)
    {
        if (! child.hasType ("PARAM"))
            continue;

        if (values[child["id"].toString()] != (float) child["value"])
            fail ("a value changed on its way through a saved preset");

        // What the preset holds is what plays, not an entry the parameter never took.
        const auto* parameter = processor->parameterState.getParameter (child["id"].toString());
        const auto& range = parameter->getNormalisableRange();

        if (child.hasProperty ("value")
            && std::abs (parameter->convertFrom0to1 (parameter->getValue()) - (float) child["value"]) > 1.0e-6f * (range.end - range.start))
            fail ("a saved preset holds another value than its parameter");
    }

    return 0;
}
