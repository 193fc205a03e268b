#include "ui/keys.h"

#include "framework/window.h"

void (*UndoStep)() = nullptr;
void (*RedoStep)() = nullptr;
void (*PictureStep)() = nullptr;
void (*AnimationStep)() = nullptr;

int32_t OnChar(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    switch (wParam) {
    case CharCopy:
        CopyToClipboard();
        break;
    case CharUndo:
        if (UndoStep) UndoStep();
        break;
    case CharRedo:
        if (RedoStep) RedoStep();
        break;
    case CharPicture:
    case 'P':
        if (PictureStep) PictureStep();
        break;
    case CharAnimation:
    case 'G':
        if (AnimationStep) AnimationStep();
        break;
    default:
        break;
    }
    return 0;
}
