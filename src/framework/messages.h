// Window message numbers and related constants, with the values the Win32 API
// gives them, so that every platform delivers the same numbers to WndProc.
// Named apart from the Win32 macros, so <windows.h> may come before or after.
#pragma once
#include <cstdint>

constexpr uint32_t WmDestroy = 0x0002;
constexpr uint32_t WmSize = 0x0005;
constexpr uint32_t WmSetFocus = 0x0007;
constexpr uint32_t WmKillFocus = 0x0008;
constexpr uint32_t WmPaint = 0x000F;
constexpr uint32_t WmClose = 0x0010;
constexpr uint32_t WmQuit = 0x0012;
// The session ends (logoff, shutdown; elsewhere a signal or the display
// gone): wParam is non-zero when it really does.
constexpr uint32_t WmQueryEndSession = 0x0011;
constexpr uint32_t WmEndSession = 0x0016;
constexpr uint32_t WmKeyDown = 0x0100;
constexpr uint32_t WmKeyUp = 0x0101;
constexpr uint32_t WmChar = 0x0102;
constexpr uint32_t WmInitDialog = 0x0110;
constexpr uint32_t WmCommand = 0x0111;
// WmCommand's wParam for a Cancel button.
constexpr uint32_t IdCancel = 2;
// WmCommand's wParam for the window's zoom item: IdZoom + the choice
// (framework/zoom.h).
constexpr uint32_t IdZoom = 0x5A00;
// WmCommand's wParam for the window's button or item that lists its keys
// (as F1 does).
constexpr uint32_t IdKeys = 0x4B00;
constexpr uint32_t WmSysCommand = 0x0112;
constexpr uint32_t WmMouseMove = 0x0200;
constexpr uint32_t WmLButtonDown = 0x0201;
constexpr uint32_t WmLButtonUp = 0x0202;
constexpr uint32_t WmRButtonDown = 0x0204;
constexpr uint32_t WmRButtonUp = 0x0205;
constexpr uint32_t WmDropFiles = 0x0233;
constexpr uint32_t WmQueryNewPalette = 0x030F;
constexpr uint32_t WmPaletteIsChanging = 0x0310;
constexpr uint32_t WmPaletteChanged = 0x0311;

// System commands of the platform's own menu items (the low four bits are
// the platform's and are ignored when comparing).
constexpr uint32_t ScSize = 0xF000;
constexpr uint32_t ScMove = 0xF010;
constexpr uint32_t ScMinimize = 0xF020;
constexpr uint32_t ScMaximize = 0xF030;
constexpr uint32_t ScClose = 0xF060;
constexpr uint32_t ScRestore = 0xF120;

// Mouse-message wParam bits: which buttons are held.
constexpr uint32_t MkLButton = 0x0001;
constexpr uint32_t MkRButton = 0x0002;
// Shift and Ctrl, as a mouse message's wParam carries them; also what
// PlatformKeyModifiers gives for a key.
constexpr uint32_t MkShift = 0x0004;
constexpr uint32_t MkControl = 0x0008;
// A mouse message the keyboard's pen made, which no platform sends.
constexpr uint32_t MkKeyboard = 0x0100;

constexpr uint32_t VkBack = 0x08;
constexpr uint32_t VkTab = 0x09;
constexpr uint32_t VkReturn = 0x0D;
constexpr uint32_t VkEscape = 0x1B;
constexpr uint32_t VkShift = 0x10;
constexpr uint32_t VkControl = 0x11;
constexpr uint32_t VkSpace = 0x20;
constexpr uint32_t VkLeft = 0x25;
constexpr uint32_t VkUp = 0x26;
constexpr uint32_t VkRight = 0x27;
constexpr uint32_t VkDown = 0x28;
constexpr uint32_t VkDelete = 0x2E;
constexpr uint32_t VkF1 = 0x70;
// The zoom keys, as Win32 names them: the keys that type "+" (or "="),
// "-" and "0", and the keypad's plus, minus and 0.
constexpr uint32_t VkOemPlus = 0xBB;
constexpr uint32_t VkOemMinus = 0xBD;
constexpr uint32_t VkAdd = 0x6B;
constexpr uint32_t VkSubtract = 0x6D;
constexpr uint32_t VkNumpad0 = 0x60;

constexpr uint32_t MfString = 0x0000;
constexpr uint32_t MfUnchecked = 0x0000;
constexpr uint32_t MfChecked = 0x0008;
constexpr uint32_t MfPopup = 0x0010;
constexpr uint32_t MfSeparator = 0x0800;

// Opaque handles of the platform's objects.
using WindowHandle = void*;
using MenuHandle = void*;

// A message handler: window, message, wParam, lParam; returns the message result.
using MessageHandler = int32_t (*)(WindowHandle, uint32_t, uint32_t, int32_t);
// A dialog's procedure has the same shape.
using DialogProc = MessageHandler;

// Packs client coordinates into an lParam the way mouse messages carry them.
inline int32_t PackPoint(int32_t x, int32_t y)
{
    return static_cast<int32_t>((static_cast<uint32_t>(x) & 0xFFFFu) |
                                ((static_cast<uint32_t>(y) & 0xFFFFu) << 16));
}
