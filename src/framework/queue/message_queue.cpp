#include "framework/queue/message_queue.h"

#include <cstring>
#include <deque>
#include <map>

namespace {

// Each message with the modifier keys held as it was made.
struct Queued {
    PlatformMessage msg;
    uint32_t modifiers;
};

// The queue's state, all of it.
struct QueueState {
    WindowHandle Window = nullptr;
    MessageHandler Procedure = nullptr;
    std::deque<Queued> Pending;
    // Those of the message taken last, which is the one being handled.
    uint32_t TakenModifiers = 0;
    uint32_t PostModifiers = 0;
    // Like the Win32 queue: a paint comes only once nothing else is waiting, and
    // several requests make one paint.
    bool PaintPending = false;
    std::map<uint32_t, std::vector<std::string>> Drops;
    uint32_t LastDrop = 0;
};

QueueState Q;

} // namespace

void QueueOpen(WindowHandle window, MessageHandler procedure)
{
    Q.Window = window;
    Q.Procedure = procedure;
}

void QueueClose()
{
    const WindowHandle window = Q.Window;
    const MessageHandler procedure = Q.Procedure;
    Q.Window = nullptr;
    Q.Procedure = nullptr;
    Q.PaintPending = false;
    if (window && procedure) procedure(window, WmDestroy, 0, 0);
}

void QueueReset()
{
    Q = QueueState{};
}

int32_t QueueSend(uint32_t message, uint32_t wParam, int32_t lParam)
{
    return Q.Window && Q.Procedure ? Q.Procedure(Q.Window, message, wParam, lParam) : 0;
}

void QueuePost(WindowHandle to, uint32_t message, uint32_t wParam, int32_t lParam)
{
    if (Q.Window) Q.Pending.push_back(Queued{PlatformMessage{to, message, wParam, lParam}, Q.PostModifiers});
}

void QueuePost(uint32_t message, uint32_t wParam, int32_t lParam)
{
    QueuePost(Q.Window, message, wParam, lParam);
}

void QueuePostMouse(uint32_t message, uint32_t buttons, int32_t x, int32_t y)
{
    QueuePost(message, buttons, PackPoint(x, y));
}

void QueuePostDrop(const std::vector<std::string>& paths)
{
    if (!Q.Window) return;
    // Token 0 never names a drop.
    if (++Q.LastDrop == 0) ++Q.LastDrop;
    Q.Drops[Q.LastDrop] = paths;
    QueuePost(WmDropFiles, Q.LastDrop, 0);
}

void QueueRepaint()
{
    Q.PaintPending = true;
}

bool QueuePending() { return !Q.Pending.empty() || (Q.PaintPending && Q.Window); }

bool QueueNext(PlatformMessage* msg)
{
    if (!Q.Pending.empty()) {
        *msg = Q.Pending.front().msg;
        Q.TakenModifiers = Q.Pending.front().modifiers;
        Q.Pending.pop_front();
        return true;
    }
    if (Q.PaintPending && Q.Window) {
        Q.PaintPending = false;
        Q.TakenModifiers = 0;
        *msg = PlatformMessage{Q.Window, WmPaint, 0, 0};
        return true;
    }
    return false;
}

void QueuePostKey(uint32_t virtualKey, int32_t character, uint32_t modifiers)
{
    Q.PostModifiers = modifiers;
    if (virtualKey) QueuePost(WmKeyDown, virtualKey, 1);
    if (character >= 0) QueuePost(WmChar, static_cast<uint32_t>(character), 1);
    Q.PostModifiers = 0;
}

uint32_t QueueKeyModifiers() { return Q.TakenModifiers; }

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
    if (!Q.Window || msg.window != Q.Window) return;
    Q.Procedure(msg.window, msg.message, msg.wParam, msg.lParam);
}

void QueuePostQuit(uint32_t code)
{
    Q.Pending.push_back(Queued{PlatformMessage{nullptr, WmQuit, code, 0}, 0});
}

uint32_t QueueTakeDroppedName(uint32_t drop, char* buffer, uint32_t size)
{
    const auto found = Q.Drops.find(drop);
    if (found == Q.Drops.end()) return 0;
    const std::string name = found->second.empty() ? std::string() : found->second[0];
    Q.Drops.erase(found);
    if (name.empty()) return 0;
    if (buffer && size > 0) {
        const size_t n = name.size() < size - 1 ? name.size() : size - 1;
        std::memcpy(buffer, name.data(), n);
        buffer[n] = 0;
    }
    return static_cast<uint32_t>(name.size());
}
