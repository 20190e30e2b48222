#include "editor/PluginEditor.h"
#include "tests/editor/EditorTestSupport.h"

using namespace qvl::test;

TEST (EditorWindowSmoke, Builds)
{
    QuorvalisPluginAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    auto& e = dynamic_cast<QuorvalisPluginAudioProcessorEditor&> (*editor);
    std::cout << "root " << e.rootContainer.getWidth() << " x " << e.rootContainer.getHeight()
              << " editor " << e.getWidth() << " x " << e.getHeight() << std::endl;
    auto image = render (e);
    juce::File ("/tmp/editor.png").deleteFile();
    juce::FileOutputStream out (juce::File ("/tmp/editor.png"));
    juce::PNGImageFormat().writeImageToStream (image, out);
    processor.editorBeingDeleted (editor.get());
}
