#include "framework/strings.h"

#include <cstring>

#include "framework/platform.h"

static char TextBuffer[80];

const char* LoadResString(uint32_t id)
{
    if (PlatformLoadString(id, TextBuffer, sizeof TextBuffer) <= 0) TextBuffer[0] = 0;
    return TextBuffer;
}

const char* BuiltInString(uint32_t id)
{
    switch (id) {
#define TALVO_STRING(number, text) \
    case number: return text;
#include "resources/strings.inc"
#undef TALVO_STRING
    default: return nullptr;
    }
}

int32_t CopyBuiltInString(uint32_t id, char* buffer, int32_t size)
{
    const char* text = BuiltInString(id);
    if (!text || size <= 0) return 0;
    const int32_t length = static_cast<int32_t>(std::strlen(text));
    const int32_t n = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}
