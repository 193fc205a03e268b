// The keyboard ring and mouse queue that WndProc fills.
#pragma once
#include <cstdint>

struct MouseEvent {
    int32_t x;
    int32_t y;
    int32_t buttons;
};

void KeyPush(uint8_t code);
void MousePush(const MouseEvent& event);

void KeyFlush();
uint8_t KeyGet();
uint8_t KeyWait();
int32_t KeyHit();
void MouseFlush();
MouseEvent MouseWait();
int32_t MouseHit();
MouseEvent MousePoll();
void CopyToClipboard();
