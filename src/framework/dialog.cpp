#include "framework/dialog.h"

#include <vector>

#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/window.h"

namespace {

struct DialogState {
    bool Open = false;
    int32_t Result = 0;
};

DialogState Dialog;

} // namespace

void DialogReset()
{
    Dialog = DialogState{};
}

bool AboutDialogOpen() { return Dialog.Open; }

void EndAboutDialog(WindowHandle, int32_t result)
{
    if (!Dialog.Open) return;
    Dialog.Open = false;
    Dialog.Result = result;
    PlatformEndAbout(result);
}

int32_t RunAboutDialog(DialogProc proc)
{
    if (Dialog.Open) return 0;
    Dialog.Open = true;
    Dialog.Result = 0;
    BeforeLongWait();
    WindowHandle dialog = nullptr;
    const int32_t ran = PlatformAbout(proc, &dialog);
    if (!dialog) {
        // The platform's own loop ran it to its end.
        Dialog.Open = false;
        return ran;
    }
    // What was already waiting is the window's, handled once the dialog is
    // gone: a button released just before ends its stroke then.
    std::vector<PlatformMessage> waiting, later;
    PlatformMessage msg;
    while (PlatformNextMessage(&msg)) waiting.push_back(msg);
    proc(dialog, WmInitDialog, 0, 0);
    for (const PlatformMessage& w : waiting)
        if (Dialog.Open && EndsProgram(w)) proc(dialog, WmClose, 0, 0);
    while (Dialog.Open) {
        if (!PlatformNextMessage(&msg)) {
            PlatformWaitInput(0);
            if (!PlatformNextMessage(&msg)) {
                PlatformWaitInput(PlatformForever);
                continue;
            }
        }
        if (msg.window == dialog) {
            proc(dialog, msg.message, msg.wParam, msg.lParam);
        } else if (msg.message == WmPaint) {
            PlatformHandleMessage(msg);
        } else if (EndsProgram(msg)) {
            proc(dialog, WmClose, 0, 0);
            later.push_back(msg);
        }
        // Any other input was the window's, which takes none while the
        // dialog is open.
    }
    // The pumps after it handle, in order, what was waiting when it opened,
    // then what asked the program to end meanwhile.
    DeferMessages(waiting);
    DeferMessages(later);
    return Dialog.Result;
}
