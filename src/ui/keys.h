// The window's keys beyond the menu: each arrives as the character Win32
// makes of it (Ctrl+C is character 3), from the keyboard or from a button
// that posts the same character.
#pragma once
#include <cstdint>

#include "framework/messages.h"

enum KeyCharacter : uint32_t {
    // Ctrl+C: the picture of the field to the clipboard.
    CharCopy = 3,
    // Ctrl+Y (and Ctrl+Shift+Z, where the platform tells the Shift key):
    // redo what was undone.
    CharRedo = 25,
    // Ctrl+Z: undo the last stroke or Clear.
    CharUndo = 26,
    // P: save a picture of the field; G: save an animation (a GIF) of the
    // last minute. Keys no desktop or browser takes for itself.
    CharPicture = 'p',
    CharAnimation = 'g',
};

// What undo and redo do: the program's history (set at start-up).
extern void (*UndoStep)();
extern void (*RedoStep)();
// What saving a picture and an animation do (set at start-up).
extern void (*PictureStep)();
extern void (*AnimationStep)();

int32_t OnChar(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
