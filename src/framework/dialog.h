// The modal About dialog. Where the platform has a dialog loop of its own
// (Windows), it runs there; elsewhere it runs here, once for every platform:
// the frames stand still until the dialog ends.
#pragma once
#include <cstdint>

#include "framework/messages.h"

// Shows the dialog and returns, with the result EndAboutDialog gave, once it
// has ended. `proc` gets WmInitDialog first, then the dialog's input.
int32_t RunAboutDialog(DialogProc proc);
void EndAboutDialog(WindowHandle dialog, int32_t result);
// Whether the dialog is open (for tests and the headless platform's views).
bool AboutDialogOpen();

void DialogReset();
