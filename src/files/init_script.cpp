#include "files/init_script.h"

#include <cstdio>
#include <cstring>

#include "files/side_files.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "sim/palette.h"

int32_t ColoursSetFlag = 0;

void InitScriptReset() { ColoursSetFlag = 0; }

static const char* const Keywords[12] = {
    "PENWIDTH", "LINE",        "BOX",         "FILLBOX",     "ELLIPSE",     "FILLELLIPSE",
    "BGCOLOR",  "WALLCOLOR",   "SANDCOLOR1A", "SANDCOLOR1B", "SANDCOLOR2A", "SANDCOLOR2B",
};

enum Keyword : int32_t {
    KwPenWidth = 1,
    KwLine,
    KwBox,
    KwFillBox,
    KwEllipse,
    KwFillEllipse,
    KwBgColor,
    KwSandColor2B = 12,
};

int32_t LookUpKeyword(const char* token)
{
    for (int32_t i = 0; i < 12; ++i)
        if (std::strcmp(token, Keywords[i]) == 0) return i + 1;
    return 0;
}

// Sign and digits, stopping at anything else; no digits gives 0. A token
// holds at most 14 characters, so the value fits 64 bits; it keeps its low
// 32 bits, which keeps a colour's low byte exact.
static int32_t TokenNumber(const char* token)
{
    const char* at = token;
    bool negative = false;
    if (*at == '+' || *at == '-') negative = *at++ == '-';
    uint64_t value = 0;
    while (*at >= '0' && *at <= '9') value = value * 10 + static_cast<uint64_t>(*at++ - '0');
    if (negative) value = 0 - value;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t TokenizeLine(const char* line, ScriptCommand& command)
{
    if (line[0] == ';') return 0;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(line);
    int32_t count = 0;
    for (;;) {
        while (*at == ' ') ++at;
        char token[ScriptTokenLimit + 1];
        int32_t length = 0;
        while (*at > 0x20) {
            if (length == ScriptTokenLimit) return 0;
            const unsigned char c = *at++;
            token[length++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        token[length] = 0;
        command.values[count] = count == 0 ? LookUpKeyword(token) : TokenNumber(token);
        ++count;
        if (*at < 0x20 || count == 8) return count;
    }
}

void ExecuteCommand(const ScriptCommand& command, int32_t count)
{
    const int32_t* v = command.values;
    const int32_t code = v[0];
    if (code == KwPenWidth) {
        if (count == 2) SetPenWidth(v[1]);
    } else if (code >= KwLine && code <= KwFillEllipse) {
        if (count < 6) return;
        // Only entries of the palette in force hold a colour of this scene.
        if (v[5] < 0 || v[5] >= PaletteEntryCount) return;
        const uint32_t colour = PaletteColour(v[5]);
        switch (code) {
        case KwLine: DrawLine(v[1], v[2], v[3], v[4], colour); break;
        case KwBox: DrawRect(v[1], v[2], v[3], v[4], 1, colour); break;
        case KwFillBox: DrawRect(v[1], v[2], v[3], v[4], 2, colour); break;
        case KwEllipse: DrawEllipse(v[1], v[2], v[3], v[4], 1, colour); break;
        default: DrawEllipse(v[1], v[2], v[3], v[4], 2, colour); break;
        }
    } else if (code >= KwBgColor && code <= KwSandColor2B) {
        if (count != 4) return;
        BaseColours[code - KwBgColor] = (static_cast<uint32_t>(v[1]) & 255) |
                                        (static_cast<uint32_t>(v[2]) & 255) << 8 |
                                        (static_cast<uint32_t>(v[3]) & 255) << 16;
        ColoursSetFlag = 1;
    }
}

int32_t RunInitScript()
{
    std::FILE* file = OpenSideFile("init.txt", "r");
    if (!file) return 0;
    ColoursSetFlag = 0;
    char line[ScriptLineSize];
    // 255 bytes of room: at most 254 characters a read, line end included.
    while (std::fgets(line, ScriptLineSize - 1, file)) {
        ScriptCommand command{};
        const int32_t count = TokenizeLine(line, command);
        if (count >= 1) ExecuteCommand(command, count);
    }
    std::fclose(file);
    SetPenWidth(0);
    if (ColoursSetFlag) BuildBasePalette();
    return 1;
}
