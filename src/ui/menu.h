// The system menu with its commands, and the About dialog.
#pragma once
#include <cstdint>

#include "framework/messages.h"

// Command ids; each setting group shows its mark on base + value.
enum MenuCommand : uint32_t {
    CmdClear = 7,
    CmdDrawingOn = 10,
    CmdAbout = 11,
    CmdPenBase = 20,
    CmdEraserBase = 30,
    CmdSpeedBase = 40,
    CmdSlot1Base = 50,
    CmdSlot2Base = 60,
};

extern MenuHandle SystemMenu;

void BuildSystemMenu();
void MarkSettings(bool on);
// The mark of "Drawing on" as DrawingEnabled says.
void MarkDrawingOn();
int32_t OnSysCommand(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t AboutDlgProc(WindowHandle dialog, uint32_t message, uint32_t wParam, int32_t lParam);
// No menu yet.
void MenuReset();
