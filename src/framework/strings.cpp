#include "framework/strings.h"

#include "framework/platform.h"

static char TextBuffer[80];

const char* LoadResString(uint32_t id)
{
    if (PlatformLoadString(id, TextBuffer, sizeof TextBuffer) <= 0) TextBuffer[0] = 0;
    return TextBuffer;
}
