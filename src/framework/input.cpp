#include "framework/input.h"

#include "framework/platform.h"

// Both rings hold at most 255 items: full is write + 1 == read (mod 256).
static uint8_t KeyRing[256];
static int32_t KeyRead = 0;
static int32_t KeyWrite = 0;
static MouseEvent MouseQueue[256];
static int32_t MouseRead = 0;
static int32_t MouseWrite = 0;

void InputReset()
{
    KeyRead = KeyWrite = 0;
    MouseRead = MouseWrite = 0;
}

void KeyPush(uint8_t code)
{
    if (((KeyWrite + 1 - KeyRead) & 255) == 0) return;
    KeyRing[KeyWrite] = code;
    KeyWrite = (KeyWrite + 1) & 255;
}

void MousePush(const MouseEvent& event)
{
    if (((MouseWrite + 1 - MouseRead) & 255) == 0) return;
    MouseQueue[MouseWrite] = event;
    MouseWrite = (MouseWrite + 1) & 255;
}

uint8_t KeyTake()
{
    const uint8_t code = KeyRing[KeyRead];
    KeyRead = (KeyRead + 1) & 255;
    return code;
}

MouseEvent MouseTake()
{
    const MouseEvent event = MouseQueue[MouseRead];
    MouseRead = (MouseRead + 1) & 255;
    return event;
}

void KeyFlush() { KeyRead = KeyWrite = 0; }
int32_t KeyHit() { return KeyRead != KeyWrite ? 1 : 0; }
void MouseFlush() { MouseRead = MouseWrite = 0; }
int32_t MouseHit() { return MouseRead != MouseWrite ? 1 : 0; }

MouseEvent MousePoll()
{
    MouseEvent now = {};
    PlatformPointer(&now.x, &now.y, &now.buttons);
    return now;
}

uint32_t KeyModifiers() { return PlatformKeyModifiers(); }
