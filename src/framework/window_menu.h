// The window's menu (on Windows its system menu): the program's items after
// the platform's own, with their check marks. The model is kept here, once
// for every platform, and each item and mark is handed to the platform as it
// comes.
#pragma once
#include <cstdint>
#include <string>

#include "framework/messages.h"

// The window's own menu.
MenuHandle WindowMenu();
// A new, empty menu, to be appended to another as a popup.
MenuHandle MenuCreate();
// flags: MfString (idOrPopup is the command id), MfPopup (idOrPopup is a
// menu from MenuCreate) or MfSeparator.
void MenuAppend(MenuHandle menu, uint32_t flags, uintptr_t idOrPopup, const char* text);
// Sets (MfChecked) or removes the mark of the item with that id, wherever
// it stands in the window's menu; nothing when no item has it.
void MenuCheck(uint32_t id, uint32_t flags);
// -1 when no item has the id, else 1 or 0 for its mark.
int32_t MenuChecked(uint32_t id);
// The program's part of the menu, one item a line ("[x] 21 Normal",
// "Pen >" with its items indented, "----").
std::string MenuText();

// No menu but the window's, empty.
void WindowMenuReset();
