// Window message numbers and related constants, with the values the Win32 API
// gives them, so that every platform delivers the same numbers to WndProc.
#pragma once
#include <cstdint>

#ifndef WM_DESTROY
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_DROPFILES 0x0233
#define WM_QUERYNEWPALETTE 0x030F
#define WM_PALETTEISCHANGING 0x0310
#define WM_PALETTECHANGED 0x0311

#define SC_CLOSE 0xF060

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E

#define MF_STRING 0x0000
#define MF_UNCHECKED 0x0000
#define MF_CHECKED 0x0008
#define MF_POPUP 0x0010
#define MF_SEPARATOR 0x0800
#endif

// Opaque handles of the platform's objects.
using WindowHandle = void*;
using MenuHandle = void*;
using BrushHandle = void*;

// A message handler: window, message, wParam, lParam; returns the message result.
using MessageHandler = int32_t (*)(WindowHandle, uint32_t, uint32_t, int32_t);

// Packs client coordinates into an lParam the way mouse messages carry them.
inline int32_t PackPoint(int32_t x, int32_t y)
{
    return static_cast<int32_t>((static_cast<uint32_t>(x) & 0xFFFFu) |
                                ((static_cast<uint32_t>(y) & 0xFFFFu) << 16));
}
