// What the page's entry point needs from the web platform beyond the
// platform interface.
#pragma once

// True once the main routine's frame loop runs and until the window goes:
// only then is there a whole scene to save.
bool WebProgramRunning();
