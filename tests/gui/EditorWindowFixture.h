#pragma once

// The common start of a real-window test: skipped without a display, a fresh work folder with
// the host's home inside it, and the editor laid out in memory to know where to click.

#include "tests/gui/EditorLayout.h"
#include "tests/gui/HostEditorWindow.h"
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qvl::guitest
{
    class EditorWindowFixture : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            if (const auto why = whyNoDisplay(); ! why.empty())
                GTEST_SKIP() << why;

            work = hosttest::testWorkDir();
            home = work + "/home";
            layout = std::make_unique<EditorLayout>();
        }

        std::string work, home;
        std::unique_ptr<EditorLayout> layout;
    };
}
