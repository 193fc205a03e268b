#include "framework/input.h"

#include "framework/platform.h"

namespace {

// The keyboard ring and the mouse queue. Both hold at most 255 items: full
// is write + 1 == read (mod 256).
struct InputState {
    uint8_t KeyRing[256];
    int32_t KeyRead = 0;
    int32_t KeyWrite = 0;
    MouseEvent MouseQueue[256];
    int32_t MouseRead = 0;
    int32_t MouseWrite = 0;
};

InputState In;

} // namespace

void InputReset()
{
    In = InputState{};
}

void KeyPush(uint8_t code)
{
    if (((In.KeyWrite + 1 - In.KeyRead) & 255) == 0) return;
    In.KeyRing[In.KeyWrite] = code;
    In.KeyWrite = (In.KeyWrite + 1) & 255;
}

void MousePush(const MouseEvent& event)
{
    if (((In.MouseWrite + 1 - In.MouseRead) & 255) == 0) return;
    In.MouseQueue[In.MouseWrite] = event;
    In.MouseWrite = (In.MouseWrite + 1) & 255;
}

uint8_t KeyTake()
{
    const uint8_t code = In.KeyRing[In.KeyRead];
    In.KeyRead = (In.KeyRead + 1) & 255;
    return code;
}

MouseEvent MouseTake()
{
    const MouseEvent event = In.MouseQueue[In.MouseRead];
    In.MouseRead = (In.MouseRead + 1) & 255;
    return event;
}

void KeyFlush() { In.KeyRead = In.KeyWrite = 0; }
int32_t KeyHit() { return In.KeyRead != In.KeyWrite ? 1 : 0; }
void MouseFlush() { In.MouseRead = In.MouseWrite = 0; }
int32_t MouseHit() { return In.MouseRead != In.MouseWrite ? 1 : 0; }

MouseEvent MousePoll()
{
    MouseEvent now = {};
    PlatformPointer(&now.x, &now.y, &now.buttons);
    return now;
}

uint32_t KeyModifiers() { return PlatformKeyModifiers(); }
