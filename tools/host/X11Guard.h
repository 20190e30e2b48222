#pragma once

// Must run first in main, before anything touches Xlib.
void installX11Guards();
