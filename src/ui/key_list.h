// The list of the window's keys, shown by F1 and by the window's keys
// button or item: every key named as the keyboard's layout in force labels
// it (Ctrl+Z is Ctrl+Я on a Russian keyboard), its Latin letter beside.
#pragma once
#include <cstdint>
#include <string>

#include "framework/messages.h"

// What a layout labels the key of a Latin letter with: KeyLabel's form
// (framework/window.h), 0 where the Latin letter stands.
using KeyLabelLookup = int32_t (*)(uint32_t letter, char* buffer, int32_t size);

// The list's caption, and its lines: the keys, a tab, what they do, and a
// line break, each letter key as `lookup` names it.
extern const char KeyListCaption[];
std::string KeyListText(KeyLabelLookup lookup);

// Shows the list as the layout in force names the keys. Nothing of the
// scene, the settings or the journal changes.
void ShowKeyList();
// The WmCommand handler: IdKeys (the window's keys button or item) shows
// the list.
int32_t OnCommand(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
