// The window's keys beyond the menu. From the keyboard they are taken by
// the key (Win32's virtual key, which names a letter key by its Latin
// meaning on every layout) with Ctrl or without; a button, or a script,
// posts the character the key makes on a US keyboard (Ctrl+C is character 3),
// which is taken too. Ctrl with the zoom keys (VkOemPlus and VkAdd,
// VkOemMinus and VkSubtract, '0' and VkNumpad0, which each platform names so
// by what the key types on its layout) zooms the window.
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
    // The period: at Stop, one frame of the loop; at any other speed, Stop.
    CharFrame = '.',
};

void KeysReset();
int32_t OnKeyDown(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnKeyUp(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
int32_t OnChar(WindowHandle window, uint32_t message, uint32_t wParam, int32_t lParam);
