#include "tests/gui/HostEditorWindow.h"

#include "tests/gui/EditorLayout.h"
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace qvl::guitest
{
    namespace
    {
        using qvl::hosttest::shellQuote;

        struct Result
        {
            int exitCode = -1;
            std::string out;
        };

        // Every command has a time limit, so a stuck tool fails the test instead of hanging it.
        Result run (const std::string& command, int timeoutSeconds = 20)
        {
            Result result;
            const auto line = "timeout " + std::to_string (timeoutSeconds) + " " + command + " 2>&1";

            if (FILE* pipe = ::popen (line.c_str(), "r"))
            {
                char buffer[4096];
                for (size_t n; (n = std::fread (buffer, 1, sizeof (buffer), pipe)) > 0;)
                    result.out.append (buffer, n);

                const int status = ::pclose (pipe);
                result.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
            }

            return result;
        }

        // "KEY=VALUE" lines, as xdotool's --shell output gives them.
        std::map<std::string, int> shellValues (const std::string& text)
        {
            std::map<std::string, int> values;
            std::istringstream in (text);

            for (std::string line; std::getline (in, line);)
                if (const auto equals = line.find ('='); equals != std::string::npos)
                    values[line.substr (0, equals)] = std::atoi (line.c_str() + equals + 1);

            return values;
        }

        bool haveCommand (const char* name)
        {
            return run (std::string ("sh -c ") + shellQuote (std::string ("command -v ") + name)).exitCode == 0;
        }

        void pause (int milliseconds)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds));
        }

        std::string readFile (const std::string& path)
        {
            std::ifstream in (path, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            return text.str();
        }

        // The test process's environment with the host's own home and XDG folders in place of ours.
        std::vector<std::string> hostEnvironment (const std::string& home)
        {
            const std::map<std::string, std::string> own {
                { "HOME", home },
                { "XDG_CONFIG_HOME", home + "/.config" },
                { "XDG_DATA_HOME", home + "/.local/share" },
                { "XDG_CACHE_HOME", home + "/.cache" },
                { "XDG_STATE_HOME", home + "/.local/state" },
                { "XDG_DOCUMENTS_DIR", home + "/Documents" },
            };

            std::vector<std::string> variables;

            for (char** v = environ; *v != nullptr; ++v)
            {
                const std::string variable (*v);
                const auto name = variable.substr (0, variable.find ('='));

                if (own.count (name) == 0)
                    variables.push_back (variable);
            }

            for (const auto& [name, value] : own)
                variables.push_back (name + "=" + value);

            return variables;
        }

        std::vector<char*> pointers (std::vector<std::string>& strings)
        {
            std::vector<char*> result;
            for (auto& s : strings)
                result.push_back (s.data());
            result.push_back (nullptr);
            return result;
        }
    }

    std::string whyNoDisplay()
    {
        const char* display = std::getenv ("DISPLAY");

        if (display == nullptr || *display == 0)
            return "DISPLAY is not set";

        for (const char* tool : { "xdotool", "import" })
            if (! haveCommand (tool))
                return std::string (tool) + " is not installed";

        return {};
    }

    juce::Rectangle<int> screenArea()
    {
        juce::StringArray size;
        size.addTokens (juce::String (run ("xdotool getdisplaygeometry").out), " \n", {});
        size.removeEmptyStrings();
        return size.size() == 2 ? juce::Rectangle<int> (size[0].getIntValue(), size[1].getIntValue()) : juce::Rectangle<int>();
    }

    int countChangedPixels (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, int editorWidth)
    {
        if (! a.isValid() || ! b.isValid() || a.getBounds() != b.getBounds())
            return std::numeric_limits<int>::max();

        const double scale = (double) a.getWidth() / (double) editorWidth;
        const auto pixels = (area.toDouble() * scale).getSmallestIntegerContainer().getIntersection (a.getBounds());
        int changed = 0;

        for (int y = pixels.getY(); y < pixels.getBottom(); ++y)
            for (int x = pixels.getX(); x < pixels.getRight(); ++x)
            {
                const auto p = a.getPixelAt (x, y), q = b.getPixelAt (x, y);
                const int difference = juce::jmax (std::abs (p.getRed() - q.getRed()), std::abs (p.getGreen() - q.getGreen()),
                                                   std::abs (p.getBlue() - q.getBlue()));
                changed += difference > 40 ? 1 : 0;
            }

        return changed;
    }

    double presetValue (const juce::File& preset, const juce::String& id)
    {
        if (const auto xml = juce::parseXML (preset))
            if (const auto* parameter = xml->getChildByAttribute ("id", id))
                return parameter->getDoubleAttribute ("value");

        return std::nan ("");
    }

    HostEditorWindow::HostEditorWindow (std::string work, std::string homeFolder, int width)
        : workDir (std::move (work)), home (std::move (homeFolder)), editorWidth (width)
    {
    }

    HostEditorWindow::~HostEditorWindow()
    {
        // A test that stopped half-way must not leave its window on the shared display.
        if (pid > 0)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
    }

    bool HostEditorWindow::open (const std::vector<std::string>& arguments, const std::string& windowName)
    {
        static int runs = 0;
        const auto name = workDir + "/host-" + std::to_string (++runs);
        juce::File (home).createDirectory();

        std::vector<std::string> argv { QVL_HOST_TOOL, "editor", hosttest::bundlePath() };
        argv.insert (argv.end(), arguments.begin(), arguments.end());
        auto env = hostEnvironment (home);

        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init (&files);
        posix_spawn_file_actions_addopen (&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen (&files, 1, (name + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen (&files, 2, (name + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int spawned = posix_spawn (&pid, argv[0].c_str(), &files, nullptr, pointers (argv).data(), pointers (env).data());
        posix_spawn_file_actions_destroy (&files);
        outputFile = name + ".out";

        if (spawned != 0)
        {
            pid = -1;
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror (spawned);
            return false;
        }

        errorFile = name + ".err";
        return useWindow (windowName);
    }

    bool HostEditorWindow::useWindow (const std::string& windowName)
    {
        // Only this host's window: a window of an earlier run may still be going away. A search
        // that meets a window just as it goes ends with an X error; it is asked again.
        Result found;
        const bool shown = qvl::test::waitFor ([&]
        {
            found = run ("xdotool search --sync --all --onlyvisible --pid " + std::to_string (pid)
                         + " --name " + shellQuote ("^" + windowName + "$"), 60);
            windowId = found.out.substr (0, found.out.find ('\n'));
            return found.exitCode == 0 && ! windowId.empty() && windowId.find_first_not_of ("0123456789") == std::string::npos;
        }, 60000, 100);

        if (! shown)
        {
            ADD_FAILURE() << "the window \"" << windowName << "\" did not show: " << found.out << readFile (errorFile);
            return false;
        }

        // Windows of one host overlap; clicks and photographs are for the one on top.
        run ("xdotool windowraise " + windowId);

        if (! qvl::test::waitFor ([this] { return windowIsPainted(); }, 30000, 100))
        {
            ADD_FAILURE() << "the editor window was never painted";
            return false;
        }

        return true;
    }

    // A window that has been painted shows the editor's controls, not one flat colour.
    bool HostEditorWindow::windowIsPainted()
    {
        const auto image = capture();

        if (! image.isValid())
            return false;

        std::set<juce::uint32> colours;
        for (int y = 0; y < image.getHeight(); y += 7)
            for (int x = 0; x < image.getWidth(); x += 7)
                colours.insert (image.getPixelAt (x, y).getARGB());

        return colours.size() > 16;
    }

    juce::Rectangle<int> HostEditorWindow::windowArea() const
    {
        auto values = shellValues (run ("xdotool getwindowgeometry --shell " + windowId).out);
        return { values["X"], values["Y"], values["WIDTH"], values["HEIGHT"] };
    }

    juce::Point<int> HostEditorWindow::toScreen (juce::Point<int> editorPoint) const
    {
        const auto area = windowArea();
        const double scale = (double) area.getWidth() / (double) editorWidth;
        return area.getPosition() + (editorPoint.toDouble() * scale).roundToInt();
    }

    void HostEditorWindow::moveTo (juce::Point<int> editorPoint)
    {
        const auto target = toScreen (editorPoint);
        auto now = shellValues (run ("xdotool getmouselocation --shell").out);

        // --sync waits for the pointer to move, so it would wait for ever when it is already there.
        if (now["X"] != target.x || now["Y"] != target.y)
            run ("xdotool mousemove --sync " + std::to_string (target.x) + " " + std::to_string (target.y));
    }

    void HostEditorWindow::click (juce::Point<int> editorPoint)
    {
        moveTo (editorPoint);
        run ("xdotool click 1");
    }

    void HostEditorWindow::doubleClick (juce::Point<int> editorPoint)
    {
        moveTo (editorPoint);
        run ("xdotool click --repeat 2 --delay 80 1");
    }

    void HostEditorWindow::drag (juce::Point<int> from, juce::Point<int> to)
    {
        moveTo (from);
        run ("xdotool mousedown 1");

        for (int step = 1; step <= 10; ++step)
            moveTo (from + (to - from) * step / 10);

        run ("xdotool mouseup 1");
    }

    void HostEditorWindow::type (const std::string& text)
    {
        run ("xdotool type --delay 30 -- " + shellQuote (text));
    }

    void HostEditorWindow::key (const std::string& keys)
    {
        run ("xdotool key --delay 30 " + keys);
    }

    juce::Image HostEditorWindow::capture (const std::string& name)
    {
        const auto path = workDir + "/" + (name.empty() ? "capture-" + std::to_string (captures++ % 2) : name) + ".png";
        std::remove (path.c_str());

        if (run ("import -window " + windowId + " png:" + shellQuote (path)).exitCode != 0)
            return {};

        const juce::File file (path);
        auto image = juce::ImageFileFormat::loadFrom (file);

        if (name.empty())
            file.deleteFile();

        return image;
    }

    void HostEditorWindow::captureScreen (const std::string& name)
    {
        run ("import -window root png:" + shellQuote (workDir + "/" + name + ".png"));
    }

    bool HostEditorWindow::waitForChange (juce::Rectangle<int> area, const juce::Image& before, int timeoutMs)
    {
        return qvl::test::waitFor ([&] { return countChangedPixels (before, capture(), area, editorWidth) >= 6; }, timeoutMs, 50);
    }

    juce::Image HostEditorWindow::settled (juce::Rectangle<int> area, int timeoutMs)
    {
        auto current = capture();
        const bool agreed = qvl::test::waitFor ([&]
        {
            auto next = capture();
            std::swap (current, next);
            return countChangedPixels (next, current, area, editorWidth) == 0;
        }, timeoutMs, 0);

        if (! agreed)
            ADD_FAILURE() << "the window kept changing in " << area.toString();

        return current;
    }

    long long HostEditorWindow::played()
    {
        if (pid <= 0)
            return -1;

        // How many answers the output holds, and the last one (a line still being written is not one).
        const auto answers = [this]
        {
            std::pair<int, long long> found { 0, -1 };
            std::istringstream in (output());

            for (std::string line; std::getline (in, line) && ! in.eof();)
                if (line.rfind ("played: ", 0) == 0)
                    found = { found.first + 1, std::atoll (line.c_str() + 8) };

            return found;
        };

        const int asked = answers().first;
        ::kill (pid, SIGUSR1);
        std::pair<int, long long> answer;
        return eventually ([&] { return (answer = answers()).first > asked; }) ? answer.second : -1;
    }

    int HostEditorWindow::close()
    {
        if (pid <= 0)
            return -1;

        ::kill (pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (60);

        while (::waitpid (pid, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() > deadline)
            {
                ::kill (pid, SIGKILL);
                ::waitpid (pid, &status, 0);
                pid = -1;
                qvl::hosttest::expectNoBrokenPipe (readFile (errorFile));
                return -1;
            }

            pause (20);
        }

        pid = -1;
        qvl::hosttest::expectNoBrokenPipe (readFile (errorFile));
        return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }

    std::string HostEditorWindow::output() const
    {
        return readFile (outputFile);
    }

    //==============================================================================
    RealWindowTest::RealWindowTest() = default;
    RealWindowTest::~RealWindowTest() = default;

    void RealWindowTest::SetUp()
    {
        if (const auto why = whyNoDisplay(); ! why.empty())
            GTEST_SKIP() << why;

        work = qvl::hosttest::testWorkDir();
        home = work + "/home";
        layout = std::make_unique<EditorLayout>();
    }

    std::unique_ptr<HostEditorWindow> RealWindowTest::open (const std::string& name, std::vector<std::string> extra,
                                                            const std::string& windowName)
    {
        auto window = std::make_unique<HostEditorWindow> (work, home, layout->width());
        std::vector<std::string> arguments { "--seconds", "120", "--signal", "sine", "--freq", "220",
                                             "--out", path (name + ".wav"), "--save-state", path (name + ".state") };
        arguments.insert (arguments.end(), extra.begin(), extra.end());
        return window->open (arguments, windowName) ? std::move (window) : nullptr;
    }

    juce::Rectangle<int> RealWindowTest::area (const juce::Component& c) const
    {
        return layout->area (c);
    }

    void RealWindowTest::closeWindow (HostEditorWindow& window)
    {
        ASSERT_EQ (window.close(), 0) << window.output();
    }

    std::unique_ptr<juce::XmlElement> RealWindowTest::savedTree (const std::string& name)
    {
        const auto dumped = qvl::hosttest::runHost ({ "dump-state", path (name + ".state"), "--xml" });
        EXPECT_EQ (dumped.exitCode, 0) << dumped.err;
        return juce::parseXML (juce::String (dumped.out));
    }
}
