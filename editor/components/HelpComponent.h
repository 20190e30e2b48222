#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// The one-line help strip: shows the text of the registered control under the pointer in bright
// letters, otherwise a default text in dim ones. It listens to the registered controls itself and
// forgets a control when the control is deleted.
class HelpComponent : public juce::Component,
                      private juce::ComponentListener
{
public:
    HelpComponent();
    ~HelpComponent() override;

    void setDefaultText (const juce::String& text);

    // Registers or replaces a control's text. A null control is ignored.
    void setHelpText (juce::Component* control, const juce::String& text);

    // The control's registered text; empty when it has none.
    juce::String getHelpText (juce::Component* control) const;
    bool hasHelpText (juce::Component* control) const;

    const juce::Label& getLabel() const noexcept { return label; }

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void resized() override;

    static constexpr float helpAlpha = 0.7f;
    static constexpr float defaultAlpha = 0.35f;

private:
    void componentBeingDeleted (juce::Component&) override;

    void showDefaultText();
    void showText (const juce::String& text, float alpha);

    juce::String defaultText;
    juce::Label label;
    juce::HashMap<juce::Component*, juce::String> helpTexts;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HelpComponent)
};

} // namespace qvl
