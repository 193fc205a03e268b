#include "resources/string_table.h"

#include <cstring>

static const char* TableString(uint32_t id)
{
    switch (id) {
#define TALVO_STRING(number, text) \
    case number: return text;
#include "resources/strings.inc"
#undef TALVO_STRING
    default: return nullptr;
    }
}

int32_t CopyTableString(uint32_t id, char* buffer, int32_t size)
{
    const char* text = TableString(id);
    if (!text || size <= 0) return 0;
    const int32_t length = static_cast<int32_t>(std::strlen(text));
    const int32_t n = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, text, static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}
