// Display and dialog calls the session makes into the terminal's window code:
// the window modes, the full-screen status bar and the in-terminal dialogs.
#pragma once
#include "display/statusbar.h"
#include "display/surface.h"
#include "transfer/dialogs.h"
