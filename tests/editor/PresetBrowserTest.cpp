#include "editor/components/ListBoxComponent.h"
#include "editor/components/PresetBrowserComponent.h"
#include "editor/components/ValueTextButton.h"
#include "tests/editor/EditorTestSupport.h"

#include <functional>

using namespace qvl::test;

namespace
{
    template <typename Type>
    Type* find (juce::Component& root, std::function<bool (Type&)> matches = {})
    {
        for (auto* child : root.getChildren())
        {
            if (auto* typed = dynamic_cast<Type*> (child); typed != nullptr && (! matches || matches (*typed)))
                return typed;

            if (auto* found = find<Type> (*child, matches))
                return found;
        }

        return nullptr;
    }

    // The browser as the editor holds it: a hidden child, over the area below the header.
    struct PresetBrowser : EditorFixture
    {
        PresetBrowser()
        {
            editor.setLookAndFeel (&lookAndFeel);
            editor.setSize (1140, 800);
            editor.addChildComponent (browser);
        }

        ~PresetBrowser() override { editor.setLookAndFeel (nullptr); }

        void open (int mode, float scale = 1.0f) { browser.setMode ({ 0, 48, 1140, 600 }, mode, scale); }
        bool isOpen() const { return browser.getMode() != -1 && browser.isVisible(); }

        juce::TextButton& button (const juce::String& text)
        {
            auto* b = find<juce::TextButton> (browser, [&] (auto& c) { return c.getButtonText() == text; });
            return b != nullptr ? *b : throw std::runtime_error (("no button " + text).toStdString());
        }

        juce::Label* label (const juce::String& text) { return find<juce::Label> (browser, [&] (auto& l) { return l.getText() == text; }); }
        juce::TextEditor& nameEditor() { return *find<juce::TextEditor> (browser); }
        qvl::ListBoxComponent& list (int index) { return *find<qvl::ListBoxComponent> (browser, [&] (auto&) { return index-- == 0; }); }

        ScopedPresetFolder folder { processor.presets };
        juce::Component editor;
        qvl::PresetBrowserComponent browser { processor.presets };
    };
}

TEST_F (PresetBrowser, OpensReplacesAndCloses)
{
    struct Case { const char* what; int mode; std::function<void (PresetBrowser&)> act; bool staysOpen; };
    const juce::KeyPress escape (juce::KeyPress::escapeKey);

    const Case cases[] = {
        { "the same mode again", 0, [] (auto& f) { f.open (0); }, false },
        { "another mode", 0, [] (auto& f) { f.open (1); }, true },
        { "Escape through the name editor", 1, [&] (auto& f) { if (! f.nameEditor().keyPressed (escape)) f.browser.keyPressed (escape); }, false },
        { "Cancel", 1, [] (auto& f) { f.button ("Cancel").onClick(); }, false },
        { "a press on the veil", 0, [] (auto& f) { f.browser.mouseDown (mouseEvent (f.browser, { 2.0f, 2.0f })); }, false },
        { "a press on a list", 0, [] (auto& f) { f.browser.mouseDown (mouseEvent (f.list (1), { 5.0f, 5.0f })); }, true },
        { "a press on the panel", 1, [] (auto& f) { f.browser.mouseDown (mouseEvent (*f.browser.getChildComponent (0), { 2.0f, 2.0f })); }, true },
    };

    for (const auto& c : cases)
    {
        open (c.mode);
        ASSERT_TRUE (isOpen()) << c.what;
        c.act (*this);
        EXPECT_EQ (isOpen(), c.staysOpen) << c.what;
        browser.close();
    }

    open (0);
    open (1); // the save dialog replaces the list
    EXPECT_EQ (browser.getMode(), 1);
    EXPECT_EQ (find<qvl::ListBoxComponent> (browser), nullptr);
    EXPECT_NE (label ("Save Preset"), nullptr);
}

TEST_F (PresetBrowser, ListShowsAllThenCategoriesAndLoadsRows)
{
    const auto user = makeNumberedPresets (processor, 3);
    ASSERT_TRUE (folder.folder.getChildFile ("Factory").createDirectory().wasOk());
    ASSERT_TRUE (user[0].file.copyFileTo (folder.folder.getChildFile ("Factory/Warm.quorvalis")));

    open (0);
    auto& categories = list (0);
    auto& rows = list (1);
    EXPECT_EQ (categories.getTexts(), juce::StringArray ("[All]", "Factory", "User"));
    EXPECT_EQ (categories.getSelectedRow(), 0);
    EXPECT_EQ (rows.getTexts(), juce::StringArray ("Warm", "Preset 0", "Preset 1", "Preset 2")); // the library's order

    rows.selectRow (rows.getTexts().indexOf ("Preset 2"));
    EXPECT_EQ (processor.presets.currentPresetFile, user[0].file.getSiblingFile ("Preset 2.quorvalis"));
    EXPECT_TRUE (isOpen());

    categories.selectRow (1);
    EXPECT_EQ (rows.getTexts(), juce::StringArray ("Warm"));
    EXPECT_EQ (rows.getSelectedRow(), -1); // the old selection does not mark a row it never meant
}

TEST_F (PresetBrowser, NameFilterAndDottedNames)
{
    for (const auto& [typed, kept] : { std::pair { "a<b>c?d*e/f|g\\h[i]j\"k:l", "abcdefghijkl" }, std::pair { "Lush Pad.B", "Lush Pad.B" } })
    {
        open (1);
        nameEditor().setText ({}, false);
        nameEditor().insertTextAtCaret (typed);
        EXPECT_EQ (nameEditor().getText(), juce::String (kept));
        browser.close();
    }

    open (1);
    nameEditor().setText ("Lush Pad.B", false);
    button ("Save").onClick(); // a new name saves at once
    EXPECT_TRUE (folder.folder.getChildFile ("User/Lush Pad.B.quorvalis").existsAsFile());
    EXPECT_EQ (processor.presets.presetName.toString(), "Lush Pad.B ");
    EXPECT_FALSE (isOpen());

    // Opened again, the dialog offers the whole name, and saving it asks before overwriting.
    open (1);
    EXPECT_EQ (nameEditor().getText(), "Lush Pad.B");
    button ("Save").onClick();
    EXPECT_NE (label ("Overwrite existing preset: \"Lush Pad.B\"?"), nullptr);
}

// Typing stops at the longest name a file can take, in bytes, and the dialog says so at once;
// that name then saves.
TEST_F (PresetBrowser, TypingStopsAtTheLongestNameAFileCanTake)
{
    const int longest = processor.presets.getMaximumNameBytes();
    const juce::String tooLong ("The name is too long: no more characters fit.");
    const auto says = [this, &tooLong] (bool expected) { return pumpMessagesUntil ([&] { return (label (tooLong) != nullptr) == expected; }); };

    open (1);
    nameEditor().setText ({}, false);
    nameEditor().insertTextAtCaret (juce::String::repeatedString ("x", longest + 9));
    EXPECT_EQ (nameEditor().getText(), juce::String::repeatedString ("x", longest));
    EXPECT_TRUE (says (true));

    nameEditor().keyPressed (juce::KeyPress (juce::KeyPress::backspaceKey));
    EXPECT_TRUE (says (false));

    // One byte left: a two-byte character does not fit, a one-byte one does.
    nameEditor().insertTextAtCaret (juce::CharPointer_UTF8 ("\xc3\xa9"));
    EXPECT_EQ (nameEditor().getText().length(), longest - 1);
    EXPECT_TRUE (says (true));
    nameEditor().insertTextAtCaret ("y");
    EXPECT_EQ (nameEditor().getText().length(), longest);
    EXPECT_TRUE (says (false));

    // A selection makes room for what replaces it.
    nameEditor().setHighlightedRegion ({ 0, 4 });
    nameEditor().insertTextAtCaret ("abcd");
    EXPECT_TRUE (nameEditor().getText().startsWith ("abcd"));

    button ("Save").onClick();
    EXPECT_FALSE (isOpen());
    EXPECT_TRUE (processor.presets.currentPresetFile.existsAsFile());
    EXPECT_EQ (processor.presets.getCurrentPresetFile().name, nameEditor().getText());
}

// A save that writes nothing keeps the dialog open and says why; the header stays as it was.
TEST_F (PresetBrowser, FailedSaveKeepsTheDialogOpenAndSaysWhy)
{
    const auto user = folder.folder.getChildFile ("User");
    const auto blockUser = [&user] { ASSERT_TRUE (user.deleteRecursively() && user.create().wasOk()); };

    struct Case { juce::String name; std::function<void()> prepare; const char* message; };
    const Case cases[] = {
        { ".hidden", [] {}, "A preset name cannot start with a dot." },
        { juce::String::repeatedString ("x", 240), [] {}, "The name is too long. Please shorten it." },  // set by the program
        { "   ", [] {}, "Please type a name for the preset." },
        { "Two\nLines", [] {}, "A preset name cannot contain line breaks, tabs or other control characters." },
        { "Fine", blockUser, "The \"User\" preset folder cannot be written." },
    };

    for (const auto& c : cases)
    {
        c.prepare();
        const auto shown = processor.presets.presetName.toString();
        open (1);
        nameEditor().setText (c.name, false);
        button ("Save").onClick();

        EXPECT_TRUE (isOpen()) << c.message;
        EXPECT_NE (label (c.message), nullptr) << c.message;
        EXPECT_EQ (processor.presets.presetName.toString(), shown);
        EXPECT_EQ (folder.folder.findChildFiles (juce::File::findFiles, true, "*.quorvalis").size(), 0);
        browser.close();
    }
}

TEST_F (PresetBrowser, SavingAnExistingNameAsksFirst)
{
    const auto file = makeNumberedPresets (processor, 2)[0].file.getSiblingFile ("Preset 1.quorvalis");
    processor.presets.loadPreset (file);
    setRealValue (processor, "buffer_feedback", 0.9f);
    const auto before = file.loadFileAsString();

    open (1);
    EXPECT_EQ (nameEditor().getText(), "Preset 1");
    const auto confirming = [this] { return button ("Overwrite").isVisible() && ! button ("Save").isEnabled(); };

    button ("Save").onClick();
    EXPECT_TRUE (confirming());
    EXPECT_NE (label ("Overwrite existing preset: \"Preset 1\"?"), nullptr);
    EXPECT_EQ (file.loadFileAsString(), before);

    nameEditor().setText ("Preset 1x", true); // any edit returns to the plain dialog
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! confirming(); }));
    EXPECT_EQ (label ("Overwrite existing preset: \"Preset 1\"?"), nullptr);
    nameEditor().setText ("Preset 1", true);
    pumpMessages();

    button ("Save").onClick();
    ASSERT_TRUE (confirming());
    nameEditor().keyPressed (juce::KeyPress (juce::KeyPress::returnKey)); // Return means "Overwrite" now
    ASSERT_TRUE (pumpMessagesUntil ([&] { return ! isOpen(); }));
    EXPECT_NE (file.loadFileAsString(), before);
    EXPECT_EQ (processor.presets.presetName.toString(), "Preset 1 ");
}

TEST_F (PresetBrowser, DeletesOnlyAPlainPresetFileBelowThePresetFolder)
{
    const auto preset = makeNumberedPresets (processor, 1)[0].file;
    const auto outside = testHomeFolder().getChildFile ("outside/Keep.quorvalis");
    const auto notes = folder.folder.getChildFile ("User/notes.txt");
    const auto beside = folder.folder.getSiblingFile ("Beside.quorvalis");
    const auto link = folder.folder.getChildFile ("User/Link.quorvalis");
    const auto linkedFolder = folder.folder.getChildFile ("Linked");
    ASSERT_TRUE (outside.create().wasOk() && notes.create().wasOk() && beside.create().wasOk());
    ASSERT_TRUE (outside.createSymbolicLink (link, true));
    ASSERT_TRUE (outside.getParentDirectory().createSymbolicLink (linkedFolder, true));

    const juce::File refused[] = { juce::File(), folder.folder, folder.folder.getChildFile ("User"), outside, link, notes,
                                   juce::File (folder.folder.getFullPathName() + "/User/../../Beside.quorvalis"),
                                   preset.getSiblingFile ("Gone.quorvalis") };

    for (const auto& target : refused)
    {
        processor.presets.currentPresetFile = target;
        open (2);
        EXPECT_FALSE (isOpen()) << target.getFullPathName();

        processor.presets.currentPresetFile = preset;
        open (2);
        ASSERT_TRUE (isOpen());
        processor.presets.currentPresetFile = target; // changed while the dialog is open
        button ("Delete").onClick();
        EXPECT_FALSE (isOpen());
        EXPECT_TRUE (outside.existsAsFile() && link.existsAsFile() && preset.existsAsFile() && notes.existsAsFile() && beside.existsAsFile()
                     && folder.folder.getChildFile ("User").isDirectory()) << target.getFullPathName();
    }

    processor.presets.currentPresetFile = preset;
    open (2);
    EXPECT_NE (label ("Delete preset: \"Preset 0\"?"), nullptr);
    button ("Delete").onClick();
    EXPECT_FALSE (preset.exists());
    EXPECT_EQ (processor.presets.currentPresetFile, juce::File());
    EXPECT_EQ (processor.presets.presetName.toString(), " ");
    EXPECT_FALSE (isOpen());

    // A preset in a folder linked in from elsewhere is deleted like any other, not the link.
    processor.presets.currentPresetFile = linkedFolder.getChildFile ("Keep.quorvalis");
    open (2);
    button ("Delete").onClick();
    EXPECT_FALSE (outside.exists());
    EXPECT_TRUE (linkedFolder.isDirectory());
}

// A category that the listing bound cut says so in one line under the lists; "User" still shows.
TEST_F (PresetBrowser, ListSaysWhenSomePresetsAreNotShown)
{
    makeNumberedPresets (processor, 1);

    for (int i = 0; i <= processor.presets.getOptions().maximumListingEntries; ++i)
        ASSERT_TRUE (folder.folder.getChildFile ("Factory/F" + juce::String (i) + ".quorvalis").create().wasOk());

    open (0);
    auto* notice = label ("Some presets are not shown: this folder holds too many files.");
    ASSERT_TRUE (notice != nullptr && notice->isVisible());
    EXPECT_TRUE (list (1).getTexts().contains ("Preset 0"));

    list (0).selectRow (list (0).getTexts().indexOf ("User"));
    EXPECT_FALSE (notice->isVisible());
}

TEST_F (PresetBrowser, PaintsACentredPanelOnTheVeil)
{
    makeNumberedPresets (processor, 4);
    struct Case { int mode; float scale; int listHeight; const char* name; }; // list height: 600 x 0.66 / scale

    for (const auto& c : { Case { 0, 1.0f, 396, "list" }, Case { 0, 1.5f, 264, "list-150" }, Case { 1, 1.0f, 0, "save" } })
    {
        open (c.mode, c.scale);
        const auto panel = browser.getChildComponent (0)->getBoundsInParent();
        const auto offCentre = panel.getCentre() - browser.getLocalBounds().getCentre();
        EXPECT_LE (std::abs (offCentre.x) + std::abs (offCentre.y), 2) << c.name;
        EXPECT_TRUE (c.listHeight == 0 || list (0).getHeight() == c.listHeight) << c.name;

        const auto image = render (browser);
        EXPECT_NEAR (image.getPixelAt (2, 2).getRed(), 255 - (int) ((255 - 0x10) / 1.4f), 3) << c.name;
        EXPECT_NEAR (image.getPixelAt (2, 2).getAlpha(), 178, 1) << c.name;
        EXPECT_EQ (image.getPixelAt (panel.getX() + 8, panel.getY() + 8), juce::Colour (0xFF101010)) << c.name;

        browser.close();
    }
}

TEST_F (PresetBrowser, HeaderButtonFollowsThePresetName)
{
    const auto file = makeNumberedPresets (processor, 1)[0].file;
    qvl::ValueTextButton name;
    name.value.referTo (processor.presets.presetName);
    EXPECT_EQ (name.getButtonText(), " ");

    processor.presets.loadPreset (file);
    EXPECT_TRUE (pumpMessagesUntil ([&] { return name.getButtonText() == "Preset 0 "; }));
}
