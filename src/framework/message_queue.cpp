#include "framework/message_queue.h"

#include <cstring>
#include <deque>
#include <map>

#include "framework/window.h"

namespace {

WindowHandle Window = nullptr;
std::deque<PlatformMessage> Pending;
// Like the Win32 queue: a paint comes only once nothing else is waiting, and
// several requests make one paint.
bool PaintPending = false;
std::map<uint32_t, std::vector<std::string>> Drops;
uint32_t LastDrop = 0;

} // namespace

void QueueSetWindow(WindowHandle window)
{
    Window = window;
    if (!window) PaintPending = false;
}

WindowHandle QueueWindow() { return Window; }

bool QueuePending() { return !Pending.empty() || (PaintPending && Window); }

void QueuePostDrop(const std::vector<std::string>& paths)
{
    if (!Window) return;
    // Token 0 never names a drop.
    if (++LastDrop == 0) ++LastDrop;
    Drops[LastDrop] = paths;
    PlatformPostMessage(WmDropFiles, LastDrop, 0);
}

void QueueReset()
{
    Window = nullptr;
    Pending.clear();
    PaintPending = false;
    Drops.clear();
    LastDrop = 0;
}

std::vector<PlatformMessage> QueueSetAside()
{
    std::vector<PlatformMessage> waiting(Pending.begin(), Pending.end());
    Pending.clear();
    return waiting;
}

void QueuePutBack(const std::vector<PlatformMessage>& messages)
{
    Pending.insert(Pending.begin(), messages.begin(), messages.end());
}

bool QueueEndsProgram(const PlatformMessage& msg)
{
    return msg.message == WmQuit || msg.message == WmEndSession ||
           (msg.message == WmSysCommand && (msg.wParam & 0xFFF0u) == ScClose);
}

bool PlatformPeekMessage(PlatformMessage* msg)
{
    if (!Pending.empty()) {
        *msg = Pending.front();
        Pending.pop_front();
        return true;
    }
    if (PaintPending && Window) {
        PaintPending = false;
        *msg = PlatformMessage{Window, WmPaint, 0, 0};
        return true;
    }
    return false;
}

// Keys that make a character: digits, letters (lower case, as with no
// shift held) and the few control keys that have one.
void PlatformTranslateMessage(const PlatformMessage& msg)
{
    if (msg.message != WmKeyDown) return;
    const uint32_t key = msg.wParam;
    int32_t c = -1;
    if (key >= '0' && key <= '9') c = static_cast<int32_t>(key);
    if (key >= 'A' && key <= 'Z') c = static_cast<int32_t>(key - 'A' + 'a');
    if (key == VkSpace || key == VkReturn || key == VkBack || key == VkTab || key == VkEscape)
        c = static_cast<int32_t>(key);
    if (c >= 0) Pending.push_back(PlatformMessage{msg.window, WmChar, static_cast<uint32_t>(c), msg.lParam});
}

void PlatformDispatchMessage(const PlatformMessage& msg)
{
    if (Window && msg.window == Window) WndProc(msg.window, msg.message, msg.wParam, msg.lParam);
}

void PlatformPostMessage(uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (Window) Pending.push_back(PlatformMessage{Window, message, wParam, lParam});
}

void PlatformPostQuit(uint32_t code)
{
    Pending.push_back(PlatformMessage{nullptr, WmQuit, code, 0});
}

void PlatformInvalidate()
{
    PaintPending = true;
}

uint32_t PlatformDroppedFile(uint32_t drop, uint32_t index, char* buffer, uint32_t size)
{
    const auto found = Drops.find(drop);
    if (found == Drops.end() || index >= found->second.size()) return 0;
    const std::string& name = found->second[index];
    if (buffer && size > 0) {
        const size_t n = name.size() < size - 1 ? name.size() : size - 1;
        std::memcpy(buffer, name.data(), n);
        buffer[n] = 0;
    }
    return static_cast<uint32_t>(name.size());
}

void PlatformDropDone(uint32_t drop)
{
    Drops.erase(drop);
}
