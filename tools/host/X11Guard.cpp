// Kept apart from the JUCE sources: Xlib's macros clash with JUCE's names.
#include "X11Guard.h"

#include <X11/Xlib.h>

#include <cstdio>

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

void installX11Guards()
{
    // The plug-in runs its own message thread next to ours; both may reach the same display.
    XInitThreads();
    XSetErrorHandler (reportXError);
}
