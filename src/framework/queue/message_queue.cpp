#include "framework/queue/message_queue.h"

#include <cstring>
#include <deque>
#include <map>

namespace {

WindowHandle Window = nullptr;
MessageHandler Procedure = nullptr;
// Each message with the modifier keys held as it was made.
struct Queued {
    PlatformMessage msg;
    uint32_t modifiers;
};
std::deque<Queued> Pending;
// Those of the message taken last, which is the one being handled.
uint32_t TakenModifiers = 0;
uint32_t PostModifiers = 0;
// Like the Win32 queue: a paint comes only once nothing else is waiting, and
// several requests make one paint.
bool PaintPending = false;
std::map<uint32_t, std::vector<std::string>> Drops;
uint32_t LastDrop = 0;

} // namespace

void QueueOpen(WindowHandle window, MessageHandler procedure)
{
    Window = window;
    Procedure = procedure;
}

void QueueClose()
{
    const WindowHandle window = Window;
    const MessageHandler procedure = Procedure;
    Window = nullptr;
    Procedure = nullptr;
    PaintPending = false;
    if (window && procedure) procedure(window, WmDestroy, 0, 0);
}

void QueueReset()
{
    Window = nullptr;
    Procedure = nullptr;
    Pending.clear();
    TakenModifiers = PostModifiers = 0;
    PaintPending = false;
    Drops.clear();
    LastDrop = 0;
}

int32_t QueueSend(uint32_t message, uint32_t wParam, int32_t lParam)
{
    return Window && Procedure ? Procedure(Window, message, wParam, lParam) : 0;
}

void QueuePost(WindowHandle to, uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (Window) Pending.push_back(Queued{PlatformMessage{to, message, wParam, lParam}, PostModifiers});
}

void QueuePost(uint32_t message, uint32_t wParam, int32_t lParam)
{
    QueuePost(Window, message, wParam, lParam);
}

void QueuePostMouse(uint32_t message, uint32_t buttons, int32_t x, int32_t y)
{
    QueuePost(message, buttons, PackPoint(x, y));
}

void QueuePostDrop(const std::vector<std::string>& paths)
{
    if (!Window) return;
    // Token 0 never names a drop.
    if (++LastDrop == 0) ++LastDrop;
    Drops[LastDrop] = paths;
    QueuePost(WmDropFiles, LastDrop, 0);
}

void QueueRepaint()
{
    PaintPending = true;
}

bool QueuePending() { return !Pending.empty() || (PaintPending && Window); }

bool QueueNext(PlatformMessage* msg)
{
    if (!Pending.empty()) {
        *msg = Pending.front().msg;
        TakenModifiers = Pending.front().modifiers;
        Pending.pop_front();
        return true;
    }
    if (PaintPending && Window) {
        PaintPending = false;
        TakenModifiers = 0;
        *msg = PlatformMessage{Window, WmPaint, 0, 0};
        return true;
    }
    return false;
}

void QueuePostKey(uint32_t virtualKey, int32_t character, uint32_t modifiers)
{
    PostModifiers = modifiers;
    if (virtualKey) QueuePost(WmKeyDown, virtualKey, 1);
    if (character >= 0) QueuePost(WmChar, static_cast<uint32_t>(character), 1);
    PostModifiers = 0;
}

uint32_t QueueKeyModifiers() { return TakenModifiers; }

int32_t QueueKeyCharacter(uint32_t key, uint32_t modifiers)
{
    if (key >= 'A' && key <= 'Z' && (modifiers & MkControl)) return static_cast<int32_t>(key - 'A' + 1);
    if (modifiers & MkControl) return -1;
    if (key >= '0' && key <= '9') return static_cast<int32_t>(key);
    if (key >= 'A' && key <= 'Z') return static_cast<int32_t>(key - ((modifiers & MkShift) ? 0 : 'A' - 'a'));
    if (key == VkSpace || key == VkReturn || key == VkBack || key == VkTab || key == VkEscape)
        return static_cast<int32_t>(key);
    return -1;
}

// Only the window's own messages reach its procedure; a dialog's input goes
// to the dialog's loop, which takes it out itself.
void QueueHandle(const PlatformMessage& msg)
{
    if (!Window || msg.window != Window) return;
    Procedure(msg.window, msg.message, msg.wParam, msg.lParam);
}

void QueuePostQuit(uint32_t code)
{
    Pending.push_back(Queued{PlatformMessage{nullptr, WmQuit, code, 0}, 0});
}

uint32_t QueueTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    const auto found = Drops.find(drop);
    if (found == Drops.end()) return 0;
    const std::string name = found->second.empty() ? std::string() : found->second[0];
    Drops.erase(found);
    if (name.empty()) return 0;
    if (buffer && size > 0) {
        const size_t n = name.size() < size - 1 ? name.size() : size - 1;
        std::memcpy(buffer, name.data(), n);
        buffer[n] = 0;
    }
    return static_cast<uint32_t>(name.size());
}
