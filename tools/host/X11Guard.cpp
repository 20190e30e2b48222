// Kept apart from the JUCE sources: Xlib's macros clash with JUCE's names.
#include "X11Guard.h"

#include <X11/Xlib.h>

namespace
{
    // Console apps get no X error handler from JUCE, and Xlib's default one ends the process
    // on the first harmless error (a window that is already gone, a missing extension).
    int ignoreXError (Display*, XErrorEvent*) { return 0; }
}

void installX11Guards()
{
    // The plug-in runs its own message thread next to ours; both may reach the same display.
    XInitThreads();
    XSetErrorHandler (ignoreXError);
}
