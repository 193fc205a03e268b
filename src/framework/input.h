// The keyboard ring and the mouse queue that the window procedure fills.
// Taking from them with a wait (KeyGet, KeyWait, MouseWait) pumps: those are
// framework/pump.h's.
#pragma once
#include <cstdint>

struct MouseEvent {
    int32_t x;
    int32_t y;
    int32_t buttons;
};

// Each holds at most 255 items; one more is dropped.
void KeyPush(uint8_t code);
void MousePush(const MouseEvent& event);
// The oldest item, taken out; only when there is one.
uint8_t KeyTake();
MouseEvent MouseTake();

void KeyFlush();
int32_t KeyHit();
void MouseFlush();
int32_t MouseHit();

// Where the pointer is now and which buttons are held, asked of the platform
// (signed client coordinates; bit 0 left, bit 1 right). It neither pumps
// nor touches the queue.
MouseEvent MousePoll();

// The modifier keys held with the key message being handled (MkShift,
// MkControl).
uint32_t KeyModifiers();

// Back to the state at process start.
void InputReset();
