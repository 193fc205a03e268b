// The queue of Win32-numbered messages for the platforms whose toolkit has no
// such queue (headless, GTK, web). Their backends post the user's input here;
// this file gives them the platform's message calls (PlatformPeekMessage,
// PlatformTranslateMessage, PlatformDispatchMessage, PlatformPostMessage,
// PlatformPostQuit, PlatformInvalidate, PlatformDroppedFile,
// PlatformDropDone), so none of them imitates the Win32 queue itself.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/platform.h"

// The window that messages are for; null once it is gone, after which posts
// are dropped and nothing is dispatched (the quit message still arrives).
void QueueSetWindow(WindowHandle window);
WindowHandle QueueWindow();
// Whether a message, or a paint asked for, is waiting.
bool QueuePending();
// Posts WmDropFiles for these local paths, in the order given.
void QueuePostDrop(const std::vector<std::string>& paths);
// Empties the queue and forgets the window and every drop.
void QueueReset();
// For a modal loop: takes out the messages waiting now (a paint asked for
// stays asked for), to be put back in front, in order, once it ends.
std::vector<PlatformMessage> QueueSetAside();
void QueuePutBack(const std::vector<PlatformMessage>& messages);
// Whether a message asks the program to end: the quit, the close command or
// the end of the session. A modal loop gives way to it.
bool QueueEndsProgram(const PlatformMessage& msg);
