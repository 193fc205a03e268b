#include "ui/keys.h"

#include "framework/window.h"

int32_t OnChar(WindowHandle, uint32_t, uint32_t wParam, int32_t)
{
    switch (wParam) {
    case CharCopy:
        CopyToClipboard();
        break;
    default:
        break;
    }
    return 0;
}
