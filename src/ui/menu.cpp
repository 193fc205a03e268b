#include "ui/menu.h"

#include "framework/dialog.h"
#include "framework/primitives.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "sim/scene.h"
#include "ui/commands.h"
#include "ui/settings.h"

MenuHandle SystemMenu = nullptr;

void MenuReset()
{
    SystemMenu = nullptr;
}

static MenuHandle MakePopup(uint32_t firstId, uint32_t firstString, uint32_t count)
{
    MenuHandle popup = MenuCreate();
    for (uint32_t i = 0; i < count; ++i)
        MenuAppend(popup, MfString, firstId + i, LoadResString(firstString + i));
    return popup;
}

// The marks show the live scene's settings, never a replayed copy's.
static void Mark(uint32_t id, bool on)
{
    if (SceneIsLive()) MenuCheck(id, on ? MfChecked : MfUnchecked);
}

void BuildSystemMenu()
{
    SystemMenu = WindowMenu();
    MenuHandle pen = MakePopup(CmdPenBase, 20, 3);
    MenuHandle eraser = MakePopup(CmdEraserBase, 30, 3);
    MenuHandle slot1 = MakePopup(CmdSlot1Base, 50, 5);
    MenuHandle slot2 = MakePopup(CmdSlot2Base, 50, 5);
    MenuHandle speed = MakePopup(CmdSpeedBase, 40, 5);
    MenuAppend(SystemMenu, MfSeparator, 0, nullptr);
    MenuAppend(SystemMenu, MfString, CmdDrawingOn, LoadResString(10));
    MenuAppend(SystemMenu, MfString, CmdClear, LoadResString(7));
    MenuAppend(SystemMenu, MfPopup, reinterpret_cast<uintptr_t>(pen), LoadResString(1));
    MenuAppend(SystemMenu, MfPopup, reinterpret_cast<uintptr_t>(eraser), LoadResString(2));
    MenuAppend(SystemMenu, MfPopup, reinterpret_cast<uintptr_t>(slot1), LoadResString(5));
    MenuAppend(SystemMenu, MfPopup, reinterpret_cast<uintptr_t>(slot2), LoadResString(6));
    MenuAppend(SystemMenu, MfPopup, reinterpret_cast<uintptr_t>(speed), LoadResString(3));
    MenuAppend(SystemMenu, MfSeparator, 0, nullptr);
    MenuAppend(SystemMenu, MfString, CmdAbout, LoadResString(11));
    MarkSettings(true);
    if (DrawingEnabled == 1) Mark(CmdDrawingOn, true);
}

void MarkDrawingOn() { Mark(CmdDrawingOn, DrawingEnabled == 1); }

void MarkSettings(bool on)
{
    // A value out of its range (only a damaged file could bring one) names
    // an id the menu lacks, which marks nothing.
    Mark(CmdPenBase + static_cast<uint32_t>(PenSize), on);
    Mark(CmdEraserBase + static_cast<uint32_t>(EraserSize), on);
    Mark(CmdSpeedBase + static_cast<uint32_t>(Speed), on);
    Mark(CmdSlot1Base + static_cast<uint32_t>(SlotKind1), on);
    Mark(CmdSlot2Base + static_cast<uint32_t>(SlotKind2), on);
}

// Moves a radio group's mark from the current value to the chosen one.
template <typename T>
static void Choose(T& setting, uint32_t base, uint32_t id)
{
    Mark(base + static_cast<uint32_t>(setting), false);
    setting = static_cast<T>(id - base);
    Mark(id, true);
}

int32_t OnSysCommand(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam)
{
    const uint32_t id = wParam;
    SceneSettings& settings = SceneInHand->settings;
    if (id == CmdClear) {
        RunCommand(CommandClear);
        CopyToWindow();
    } else if (id == CmdDrawingOn) {
        settings.drawingEnabled = 1 - settings.drawingEnabled;
        Mark(CmdDrawingOn, settings.drawingEnabled == 1);
    } else if (id == CmdAbout) {
        RunAboutDialog(AboutDlgProc);
    } else if (id >= CmdPenBase && id <= CmdPenBase + 2) {
        Choose(settings.penSize, CmdPenBase, id);
    } else if (id >= CmdEraserBase && id <= CmdEraserBase + 2) {
        Choose(settings.eraserSize, CmdEraserBase, id);
    } else if (id >= CmdSpeedBase && id <= CmdSpeedBase + 4) {
        Choose(settings.speed, CmdSpeedBase, id);
    } else if (id >= CmdSlot1Base && id <= CmdSlot1Base + 4) {
        Choose(settings.slotKind1, CmdSlot1Base, id);
    } else if (id >= CmdSlot2Base && id <= CmdSlot2Base + 4) {
        Choose(settings.slotKind2, CmdSlot2Base, id);
    } else {
        return DefaultProcedure(window, message, wParam, lParam);
    }
    return 0;
}

int32_t AboutDlgProc(WindowHandle dialog, uint32_t message, uint32_t wParam, int32_t lParam)
{
    (void)lParam;
    switch (message) {
    case WmCommand:
        if (wParam == 1) EndAboutDialog(dialog, 0);
        return 0;
    case WmClose:
        EndAboutDialog(dialog, 0);
        return 0;
    default:
        return 0;
    }
}
