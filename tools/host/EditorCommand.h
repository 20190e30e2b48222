#pragma once

#include "HostOptions.h"
#include "PluginSession.h"

#include <vector>

// The editor command: every session's editor in its own window for --seconds, while each
// instance's own audio thread plays the input through it in real time, as a host's would. With
// --reopen the editors are closed and reopened during the run while a host-like automation
// thread moves parameters. The output (--out) and its level report are the first instance's; the
// others are reported after it. Returns an ExitCode value.
int runEditor (const std::vector<PluginSession*>& sessions, const HostOptions& options, double sampleRate);
