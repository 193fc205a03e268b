#include "ui/keys.h"

#include "framework/input.h"
#include "framework/window.h"
#include "framework/zoom.h"
#include "ui/commands.h"
#include "ui/key_list.h"
#include "ui/pen.h"

namespace {

// The key whose shortcut was just taken: the character its press makes,
// which comes next, is not taken again.
uint32_t TakenKey = 0;

// Whether `character` is one the press of letter key `key` makes: the
// letter in either case, the control character of Ctrl with it (Ctrl+Shift+Z
// makes Ctrl+Y's), or a letter of a layout beyond ASCII.
bool MadeBy(uint32_t key, uint32_t character)
{
    // A zoom key's character (Ctrl+minus makes one on Windows) is its own.
    if (key < 'A' || key > 'Z') return true;
    return character == key || character == key - 'A' + 'a' || character == key - 'A' + 1 ||
           (key == 'Z' && character == CharRedo) || character > 0x7F;
}

} // namespace

void KeysReset() { TakenKey = 0; }

int32_t OnKeyDown(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    TakenKey = 0;
    const uint32_t held = KeyModifiers();
    const bool control = (held & MkControl) != 0, shift = (held & MkShift) != 0;
    ProgramCommand step = CommandNone;
    bool copy = false;
    // The zoom keys, as the platforms name them on every layout: the key
    // that types "+" or "=" (German: Shift+0), "-" (French: the 6 key), "0".
    const bool larger = wParam == VkOemPlus || wParam == VkAdd;
    const bool smaller = wParam == VkOemMinus || wParam == VkSubtract;
    const bool first = wParam == '0' || wParam == VkNumpad0;
    if (control && (larger || smaller || first)) {
        TakenKey = wParam;
        if (first) ZoomChoose(1);
        else ZoomStep(larger ? 1 : -1);
        return 0;
    }
    // F1: the list of the keys, as the layout in force names them.
    if (!control && wParam == VkF1) {
        ShowKeyList();
        return 0;
    }
    if (control && wParam == 'Z') step = shift ? CommandRedo : CommandUndo;
    else if (control && wParam == 'Y') step = CommandRedo;
    else if (control && wParam == 'C') copy = true;
    else if (!control && wParam == 'P') step = CommandPicture;
    else if (!control && wParam == 'G') step = CommandAnimation;
    else if (!control && OnPenKeyDown(wParam, held)) return 0;
    else return 0;
    TakenKey = wParam;
    if (copy) CopyToClipboard();
    else RunCommand(step);
    return 0;
}

int32_t OnKeyUp(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    OnPenKeyUp(wParam);
    return 0;
}

int32_t OnChar(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    const uint32_t taken = TakenKey;
    TakenKey = 0;
    if (taken && MadeBy(taken, wParam)) return 0;
    switch (wParam) {
    case CharCopy:
        CopyToClipboard();
        break;
    case CharUndo:
        RunCommand(CommandUndo);
        break;
    case CharRedo:
        RunCommand(CommandRedo);
        break;
    case CharPicture:
    case 'P':
        RunCommand(CommandPicture);
        break;
    case CharAnimation:
    case 'G':
        RunCommand(CommandAnimation);
        break;
    case CharFrame:
        RunCommand(CommandFrame);
        break;
    default:
        break;
    }
    return 0;
}
