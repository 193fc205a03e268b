// The message queue of the platforms whose toolkit has none (headless, GTK,
// the web): their backends post the user's input here, in the Win32-numbered
// messages every platform delivers, and answer the framework's message calls
// (PlatformNextMessage, PlatformHandleMessage, PlatformPostQuit,
// PlatformTakeDroppedName) from it. It calls nothing of the framework's: the
// window's procedure comes with QueueOpen.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/platform.h"

// The window that messages are for, and its procedure. Until QueueOpen, and
// after QueueClose, posts are dropped and nothing is handled (the quit still
// arrives).
void QueueOpen(WindowHandle window, MessageHandler procedure);
// The window is gone: its procedure gets WmDestroy, the last it gets.
void QueueClose();
// Empties the queue and forgets the window and every drop.
void QueueReset();

// Handled now, not queued: what the window's creation, showing and end
// tell it at once. The procedure's result; 0 without a window.
int32_t QueueSend(uint32_t message, uint32_t wParam, int32_t lParam);
// Queued, in order; `to` is the window or a dialog of its own.
void QueuePost(WindowHandle to, uint32_t message, uint32_t wParam, int32_t lParam);
void QueuePost(uint32_t message, uint32_t wParam, int32_t lParam);
// A mouse message at client point (x, y), which the message packs in its
// lParam as two 16-bit halves.
void QueuePostMouse(uint32_t message, uint32_t buttons, int32_t x, int32_t y);
// A key press as Win32 delivers it: WmKeyDown with the virtual key (none
// when 0), then WmChar with the character it makes (none when negative),
// as TranslateMessage adds it; `modifiers` (MkShift, MkControl) the keys
// held with it.
void QueuePostKey(uint32_t virtualKey, int32_t character, uint32_t modifiers = 0);
// The modifiers held with the message taken last (PlatformKeyModifiers).
uint32_t QueueKeyModifiers();
// The character a key makes on a US keyboard (digits, letters, and the
// control keys that make one) with those modifiers held; -1 when none.
int32_t QueueKeyCharacter(uint32_t virtualKey, uint32_t modifiers = 0);
// WmDropFiles for these local paths, in the order given.
void QueuePostDrop(const std::vector<std::string>& paths);
// A WmPaint once nothing else waits; several requests make one paint.
void QueueRepaint();
// Whether a message, or a paint asked for, is waiting.
bool QueuePending();

// The platform calls of messages, as these platforms answer them.
bool QueueNext(PlatformMessage* msg);
void QueueHandle(const PlatformMessage& msg);
void QueuePostQuit(uint32_t code);
uint32_t QueueTakeDroppedName(uint32_t drop, char* buffer, uint32_t size);
