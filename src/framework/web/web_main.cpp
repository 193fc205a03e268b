// The page's entry point. The page gives the program its arguments (the
// scene it showed last, or one named in the address) and a working folder
// that it keeps in the site's storage.
#include <emscripten.h>

#include <cstring>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "framework/platform.h"
#include "framework/web/web.h"
#include "framework/start.h"
#include "framework/window.h"
#include "framework/queue/message_queue.h"
#include "ui/menu.h"

// Saves the scene as closing the window does, without closing it: the page
// calls this when it is hidden or goes (`ending`), and before a download. 1 when saved;
// 2 when not, and the user has been told (the scene rescued where it could
// be); 0 when there is no scene to save yet (or any more).
extern "C" EMSCRIPTEN_KEEPALIVE int WebSaveScene(int ending)
{
    if (!WebProgramRunning()) return 0;
    const int saved = SaveSceneAndTell() ? 1 : 2;
    // A page that goes ends its session cleanly: nothing to rebuild at the
    // next visit. One that is hidden has its journal stored up to now.
    if (ending)
        JournalEndCleanly();
    else
        JournalFlush();
    return saved;
}

// The page came back from the browser's page cache after it had gone.
extern "C" EMSCRIPTEN_KEEPALIVE void WebJournalAgain()
{
    if (WebProgramRunning()) JournalOpenScene();
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* WebSceneName() { return SceneFileName; }

// Whether the file at `path` is a scene the program would load: the page
// keeps only those. The check leaves the scene in force, and its name if it
// was refused at load, as they were.
extern "C" EMSCRIPTEN_KEEPALIVE int WebIsScene(const char* path)
{
    char damaged[sizeof DamagedScene];
    std::memcpy(damaged, DamagedScene, sizeof damaged);
    const int usable = ReadScene(path);
    std::memcpy(DamagedScene, damaged, sizeof damaged);
    return usable;
}

// The scene on show is being removed and no other is kept: a new scene
// takes its place under the default name, as Clear makes one.
extern "C" EMSCRIPTEN_KEEPALIVE void WebStartAfresh()
{
    if (!WebProgramRunning()) return;
    SceneFileReset();
    QueuePost(WmSysCommand, CmdClear, 0);
}

int main(int argc, char** argv)
{
    SetProgramArguments(argc, argv);
    SetJournalKept(true);
    if (AppStart(TalvoMain) != 0) return 0;
    // The window could not be made, which the page has said: it ends here.
    PlatformShutdown(1);
    return 1;
}
