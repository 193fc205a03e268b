#include "app/scene_handlers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/journal.h"
#include "files/scene_file.h"
#include "files/scene_save.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "ui/menu.h"

static const char Caption[] = "Talvo";

int32_t LoadScene()
{
    return LoadSceneFrom(SceneFileName);
}

int32_t LoadSceneFrom(const char* name)
{
    if (!ReadScene(name)) return 0;
    MarkSettings(false);
    UseReadScene(name);
    MarkSettings(true);
    return 1;
}

int32_t SaveSceneAndTell(bool sessionEnds)
{
    if (!SaveSceneOrOffer(sessionEnds)) return 0;
    JournalSceneSaved();
    return 1;
}

// Too long to hold: refused, never cut to some other file's name.
static void RefuseName(const char* what, const char* name)
{
    static char shown[4 * 200 + 8];
    EscapeText(name, 200, shown, sizeof shown);
    const std::string message = TranslatedWith(what, {shown, std::to_string(SceneFileNameSize - 1)});
    ShowError(message.c_str(), Caption);
}

// A dropped file that does not load leaves the name as it was, so later
// saves go to the old file.
int32_t OnDropFiles(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    static char dropped[SceneFileNameSize];
    SaveSceneAndTell();
    const uint32_t length = DroppedFileName(wParam, dropped, sizeof dropped);
    if (length == 0) return 0;
    if (length >= sizeof dropped) {
        RefuseName(N_("The dropped name \"%s\" is longer than the %s characters a scene name can have."), dropped);
        return 0;
    }
    if (!LoadSceneFrom(dropped)) return 0;
    // Another scene: a history and a journal of its own (and what its last
    // session left, rebuilt).
    JournalOpenScene();
    const std::string note = JournalTakeNote();
    if (!note.empty()) ShowNote(note.c_str(), Caption);
    return 0;
}

int32_t OnClose(WindowHandle, uint32_t, uint32_t, int32_t)
{
    SaveSceneAndTell();
    JournalEndCleanly();
    CloseMainWindow();
    return 0;
}

int32_t OnEndSession(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    if (!wParam) return 0;
    SaveSceneAndTell(true);
    JournalEndCleanly();
    CloseMainWindow();
    return 0;
}

void ApplyCommandLine(int argc, char** argv)
{
    if (argc != 2 || !argv || !argv[1]) return;
    const size_t length = std::strlen(argv[1]);
    if (length == 0) {
        ShowError(Translated("An empty scene name cannot be used."), Caption);
    } else if (length >= SceneFileNameSize) {
        RefuseName(N_("The scene name \"%s\" is longer than the %s characters a scene name can have."), argv[1]);
    } else {
        std::memcpy(SceneFileName, argv[1], length + 1);
        return;
    }
    // Nothing is loaded or saved under a name the user did not give.
    SceneFileName[0] = 0;
}
