// The page's entry point. The page gives the program its arguments (the
// scene it showed last, or one named in the address) and a working folder
// that it keeps in the site's storage; app/run_talvo.cpp reads them. The
// page's own calls into the program are here, in the page's terms.
#include <emscripten.h>

#include "framework/platform.h"
#include "framework/program_entry.h"
#include "framework/queue/message_queue.h"
#include "framework/web/web.h"

// Saves the scene as closing the window does, without closing it: the page
// calls this when it is hidden or goes (`ending`), and before a download. 1 when saved;
// 2 when not, and the user has been told (the scene rescued where it could
// be); 0 when there is no scene to save yet (or any more).
extern "C" EMSCRIPTEN_KEEPALIVE int WebSaveScene(int ending)
{
    if (!WebProgramRunning()) return 0;
    // A page that goes ends its session cleanly: nothing to rebuild at the
    // next visit. One that is hidden has its journal stored up to now.
    return ProgramSaveNow(ending != 0);
}

// The page came back from the browser's page cache after it had gone.
extern "C" EMSCRIPTEN_KEEPALIVE void WebJournalAgain()
{
    if (WebProgramRunning()) ProgramJournalAgain();
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* WebSceneName() { return ProgramSceneName(); }

// Whether the file at `path` is a scene the program would load: the page
// keeps only those.
extern "C" EMSCRIPTEN_KEEPALIVE int WebIsScene(const char* path) { return ProgramIsScene(path) ? 1 : 0; }

// The scene on show is being removed and no other is kept: a new scene
// takes its place under the default name, as Clear makes one.
extern "C" EMSCRIPTEN_KEEPALIVE void WebStartAfresh()
{
    if (!WebProgramRunning()) return;
    QueuePost(WmSysCommand, ProgramForgetScene(), 0);
}

int main(int argc, char** argv)
{
    PlatformEntry entry;
    entry.arguments.assign(argv + 1, argv + argc);
    const int status = RunTalvo(entry);
    // The window could not be made, which the page has said, or the command
    // line was answered: it ends here.
    PlatformShutdown(status);
    return status;
}
