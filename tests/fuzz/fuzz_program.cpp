// The whole program from a scene file and scripted input: start-up, frames,
// the menu, pen and eraser, drops of every kind of file, Clear, the close
// and the end of the session. Whatever happens, the state every frame relies on holds, and what
// was saved loads again.
#include <setjmp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "../test_support.h"
#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/window.h"
#include "fuzz_support.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace {

jmp_buf Ended;

// The program ends its process when its window goes; here the run ends.
void OnExit(int32_t) { longjmp(Ended, 1); }

const char* const Scenes[] = {"none.talvo", "six.talvo", "full.talvo", "damaged.talvo"};
std::vector<uint8_t> Originals[4];
const char* const Drops[] = {"six.talvo", "full.talvo", "damaged.talvo", "notes", "fifo", "folder", "none.talvo", "x.talvo"};
const uint32_t Commands[] = {CmdClear, CmdDrawingOn, CmdAbout, 20, 21, 22, 30, 31, 32, 40, 41, 42, 43, 44,
                             50,       51,           52,       53, 54, 60, 61, 62, 63, 64, 0xF060, 0xF010, 99};

// The scenes to start from and to drop, made once by the program itself.
void MakeFiles()
{
    StartProgram();
    SetProgramArguments(0, nullptr);
    std::strcpy(SceneFileName, "six.talvo");
    StartUp();
    SaveScene();
    Originals[1] = ReadFileBytes("six.talvo");
    uint32_t shades[ShadeCount];
    for (int32_t s = 0; s < ShadeCount; ++s) shades[s] = static_cast<uint32_t>(s * 0x070503);
    BuildFullPalette(shades);
    std::strcpy(SceneFileName, "full.talvo");
    SaveScene();
    Originals[2] = ReadFileBytes("full.talvo");
    Originals[3] = Originals[1];
    Originals[3].pop_back();
    FuzzWriteFile("notes", reinterpret_cast<const uint8_t*>("notes\n"), 6);
    mkfifo("fifo", 0600);
    mkdir("folder", 0700);
}

void CheckState()
{
    if (ParticleCount < 0 || ParticleCount > ParticleCapacity) std::abort();
    for (int32_t i = 0; i < ParticleCount; ++i)
        if (ParticleList[i] < FieldWidth || ParticleList[i] >= FieldSize - FieldWidth) std::abort();
    if (SlotKind1 < 0 || SlotKind1 > 4 || SlotKind2 < 0 || SlotKind2 > 4 || Speed < 0 || Speed > 9) std::abort();
    if (PenSize < 0 || PenSize > 2 || EraserSize < 0 || EraserSize > 2) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool made = false;
    FuzzStart();
    if (!made) MakeFiles();
    made = true;
    if (size < 1) return 0;
    // Every run starts from the same files.
    unlink("damaged.talvo.damaged");
    for (int i = 0; i < 4; ++i) {
        unlink(Scenes[i]);
        if (i) FuzzWriteFile(Scenes[i], Originals[i].data(), Originals[i].size());
    }
    unlink("x.talvo");

    StartProgram();
    HeadlessOnExit(OnExit);
    static char program[] = "talvo", scene[32];
    std::strcpy(scene, Scenes[data[0] % 4]);
    static char* argv[] = {program, scene, nullptr};
    SetProgramArguments(2, argv);
    // Five bytes an event: frames to wait, kind and three values.
    int64_t frame = 1;
    for (size_t at = 1; at + 5 <= size && at < 1 + 5 * 100; at += 5) {
        const uint8_t* e = data + at;
        frame += e[0] % 3;
        const int32_t x = e[2] + (e[4] & 1) * 256 - 16, y = e[3] + (e[4] & 2) * 128 - 16;
        HeadlessEvent event{frame, HeadlessEvent::Post, 0, 0, PackPoint(x, y), {}};
        const uint32_t mouse[] = {WmLButtonDown, WmLButtonUp, WmRButtonDown, WmRButtonUp, WmMouseMove};
        const uint32_t kind = e[1] % 12;
        if (kind < 5) {
            event.message = mouse[kind];
            event.wParam = e[4] >> 6;
        } else if (kind == 5) {
            event.message = WmSysCommand;
            event.wParam = Commands[e[2] % (sizeof Commands / sizeof Commands[0])];
        } else if (kind == 6) {
            event.kind = HeadlessEvent::Drop;
            event.path = Drops[e[2] % 8];
        } else if (kind == 7 || kind == 8) {
            event.message = kind == 7 ? WmKeyDown : WmChar;
            event.wParam = e[2];
        } else if (kind == 9) {
            event.kind = HeadlessEvent::Close;
        } else if (kind == 11) {
            // The session ends, or only asks whether it may.
            event.message = WmEndSession;
            event.wParam = e[2] & 1;
        } else {
            event.message = WmMouseMove;
            event.wParam = e[4] >> 6;
        }
        HeadlessSchedule(event);
    }
    HeadlessSchedule(HeadlessEvent{frame + 1, HeadlessEvent::Close, 0, 0, 0, {}});
    if (setjmp(Ended) == 0) {
        StartUp();
        for (;;) {
            CheckState();
            RunFrame();
        }
    }
    // The run ended with the close, which saved the scene: it loads again.
    CheckState();
    if (SceneFileName[0] && access(SceneFileName, F_OK) == 0 && !LoadScene()) std::abort();
    return 0;
}
