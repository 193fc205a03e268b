#include "framework/start.h"

#include "framework/dialog.h"
#include "framework/input.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "framework/window_menu.h"

void FrameworkReset()
{
    WindowReset();
    InputReset();
    PumpReset();
    PaletteReset();
    PrimitivesReset();
    WindowMenuReset();
    DialogReset();
}

int32_t AppStart(MainRoutine mainRoutine)
{
    FrameworkReset();
    if (!AppCreateWindow()) return 0;
    mainRoutine();
    for (;;) {
        AwaitMessage();
        PumpMessages();
    }
}
