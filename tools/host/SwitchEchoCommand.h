#pragma once

#include "HostOptions.h"
#include "PluginSession.h"

// The switch-echo command: with the editor open, the host sets a switch to a value in between, as
// from its own controls, and counts every call the plug-in makes back into it (values, gestures,
// restarts) and on which thread. Without --insist, each of --rounds rounds closes the editor at
// once after setting; with --insist, the host answers every value the plug-in reports by setting
// the same value in between again. Last, with the editor open, a second switch is set in between
// and its report awaited: the plug-in delivers in order, so everything earlier has been delivered
// or dropped by then. Returns an ExitCode value.
int runSwitchEcho (PluginSession& session, const HostOptions& options);
