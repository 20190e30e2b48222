#pragma once

// Must run first in main, before anything touches Xlib. Also keeps a stray SIGPIPE from ending
// the process.
void installX11Guards();
