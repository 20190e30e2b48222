#include "tests/gui/EditorLayout.h"

#include "editor/components/ListBoxComponent.h"

#include <stdexcept>

namespace qvl::guitest
{
    namespace
    {
        template <typename Type>
        void collect (juce::Component& parent, std::vector<Type*>& found)
        {
            for (auto* child : parent.getChildren())
            {
                if (auto* match = dynamic_cast<Type*> (child))
                    found.push_back (match);
                collect (*child, found);
            }
        }
    }

    EditorLayout::EditorLayout()
        : editor (std::make_unique<QuorvalisPluginAudioProcessorEditor> (processor))
    {
    }

    EditorLayout::~EditorLayout() = default;

    int EditorLayout::width() const
    {
        return editor->getWidth();
    }

    int EditorLayout::height() const
    {
        return editor->getHeight();
    }

    juce::Rectangle<int> EditorLayout::area (const juce::Component& component) const
    {
        return editor->getLocalArea (&component, component.getLocalBounds());
    }

    juce::Button& EditorLayout::button (const juce::String& text) const
    {
        std::vector<juce::Button*> buttons;
        collect (*editor, buttons);

        for (auto* b : buttons)
            if (b->getButtonText() == text && b->isVisible())
                return *b;

        throw std::runtime_error ("no button \"" + text.toStdString() + "\" in the editor");
    }

    juce::Button& EditorLayout::presetName() const
    {
        std::vector<qvl::ValueTextButton*> buttons;
        collect (*editor, buttons);

        if (buttons.empty())
            throw std::runtime_error ("no preset name in the editor");

        return *buttons.front();
    }

    juce::RangedAudioParameter& EditorLayout::parameter (const juce::String& parameterId) const
    {
        if (auto* p = processor.parameterState.getParameter (parameterId))
            return *p;

        throw std::runtime_error ("no parameter " + parameterId.toStdString());
    }

    qvl::Knob& EditorLayout::knob (const juce::String& parameterId) const
    {
        if (auto* k = editor->knobsByParameter[parameter (parameterId).getParameterIndex()])
            return *k;

        throw std::runtime_error ("no knob for " + parameterId.toStdString());
    }

    juce::Point<int> EditorLayout::restingPlace() const
    {
        const auto stream = area (button ("Stream 1"));
        return { stream.getRight() + 40, stream.getCentreY() };
    }

    juce::Rectangle<int> EditorLayout::firstPresetRow() const
    {
        editor->showPresetBrowser (qvl::PresetBrowserComponent::listMode);

        std::vector<qvl::ListBoxComponent*> lists;
        collect (editor->presetBrowser, lists);

        // The categories come first, the presets beside them.
        if (lists.size() != 2)
            throw std::runtime_error ("the preset browser does not show two lists");

        const auto row = editor->getLocalArea (lists[1], lists[1]->getRowPosition (0, true));
        editor->presetBrowser.close();
        return row;
    }

    juce::Button& EditorLayout::collapseButton (const juce::String& titleButtonText) const
    {
        const auto row = area (button (titleButtonText)).getCentreY();
        std::vector<juce::Button*> buttons;
        collect (*editor, buttons);

        for (auto* b : buttons)
            if ((b->getButtonText() == "-" || b->getButtonText() == "+") && area (*b).getCentreY() == row)
                return *b;

        throw std::runtime_error ("no collapse button beside \"" + titleButtonText.toStdString() + "\"");
    }

    juce::Rectangle<int> EditorLayout::browserArea (int mode, const juce::String& buttonText) const
    {
        if (mode == qvl::PresetBrowserComponent::deleteMode)
            editor->processor.presets.savePreset ("Layout Scratch");

        editor->showPresetBrowser (mode);
        auto& browser = editor->presetBrowser;

        if (browser.getMode() != mode || browser.getNumChildComponents() != 1)
            throw std::runtime_error ("the preset browser did not open in mode " + std::to_string (mode));

        auto result = area (*browser.getChildComponent (0));

        if (buttonText.isNotEmpty())
        {
            std::vector<juce::Button*> buttons;
            collect (browser, buttons);
            result = {};

            for (auto* b : buttons)
                if (b->getButtonText() == buttonText && b->isVisible())
                    result = area (*b);
        }

        browser.close();

        if (mode == qvl::PresetBrowserComponent::deleteMode)
            browser.getDeletableCurrentPreset().deleteFile();

        if (result.isEmpty())
            throw std::runtime_error ("no button \"" + buttonText.toStdString() + "\" in the preset browser");

        return result;
    }
}
