// Kept apart from the JUCE sources: Xlib's macros clash with JUCE's names.
#include "X11Guard.h"

#include <X11/Xlib.h>

#include <cstdio>

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

namespace
{
    // Console apps get no X error handler from JUCE, and Xlib's default one ends the process
    // on the first error. Errors are reported and the process goes on, so a run can be checked
    // for them afterwards.
    int reportXError (Display* display, XErrorEvent* event)
    {
        // Without a window manager its atoms (WM_STATE ...) do not exist, and JUCE asks for
        // properties under the null atom many times a second: nothing to report.
        if (event->error_code == BadAtom && event->resourceid == None)
            return 0;

        char text[256] = {};
        XGetErrorText (display, event->error_code, text, (int) sizeof (text));
        std::fprintf (stderr, "X Error: %s (request %d.%d, resource 0x%lx)\n", text, (int) event->request_code,
                      (int) event->minor_code, (unsigned long) event->resourceid);
        return 0;
    }
}

namespace
{
    // JUCE's message queue closes its socket's read end before its write end, so a message posted
    // by another thread (the plug-in's included) while a queue goes away raises SIGPIPE. A host
    // must not die of that; it says so, with where it happened, and goes on.
    extern "C" void reportBrokenPipe (int)
    {
        const char text[] = "qvl_host: SIGPIPE ignored, raised at:\n";
        [[maybe_unused]] auto written = write (STDERR_FILENO, text, sizeof (text) - 1);
        void* frames[32];
        backtrace_symbols_fd (frames, backtrace (frames, 32), STDERR_FILENO);
    }
}

void installX11Guards()
{
    // backtrace loads its library on first use, which a signal handler must not do.
    void* frame[1];
    backtrace (frame, 1);

    struct sigaction action {};
    action.sa_handler = reportBrokenPipe;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction (SIGPIPE, &action, nullptr);

    // The plug-in runs its own message thread next to ours; both may reach the same display.
    XInitThreads();
    XSetErrorHandler (reportXError);
}
