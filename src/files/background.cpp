#include "files/background.h"

#include <cstdio>

#include "files/side_files.h"
#include "sim/field.h"
#include "sim/palette.h"

static bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int32_t ReadColourLine(const char* line, int32_t numbers[3])
{
    const char* at = line;
    for (int32_t n = 0; n < 3; ++n) {
        while (IsSpace(*at)) ++at;
        bool negative = false;
        if (*at == '+' || *at == '-') negative = *at++ == '-';
        if (*at < '0' || *at > '9') return n;
        uint32_t value = 0;
        while (*at >= '0' && *at <= '9') value = value * 10u + static_cast<uint32_t>(*at++ - '0');
        numbers[n] = static_cast<int32_t>(negative ? 0u - value : value);
    }
    return 3;
}

void LoadBackgroundImage()
{
    std::FILE* raw = OpenSideFile("bg.raw", "rb");
    if (!raw) return;
    // Without its palette the shades would show in colours nobody chose, so
    // both files must be there before the field is touched.
    std::FILE* pal = OpenSideFile("bg.pal", "r");
    if (!pal) {
        std::fclose(raw);
        return;
    }
    for (int32_t i = 0; i < FieldSize; ++i) {
        const int c = std::getc(raw);
        const int shade = (c == EOF || c > 31) ? 0 : c;
        Field[i] = static_cast<uint8_t>(Field[i] | shade * 8);
    }
    std::fclose(raw);

    // Every read takes at most 31 characters, the line end included.
    char line[32];
    for (int i = 0; i < 3; ++i)
        if (!std::fgets(line, sizeof line, pal)) line[0] = 0;
    uint32_t shades[ShadeCount];
    int32_t rgb[3] = {0, 0, 0};
    for (int32_t s = 0; s < ShadeCount; ++s) {
        if (std::fgets(line, sizeof line, pal)) ReadColourLine(line, rgb);
        shades[s] = (static_cast<uint32_t>(rgb[0]) & 255) | (static_cast<uint32_t>(rgb[1]) & 255) << 8 |
                    (static_cast<uint32_t>(rgb[2]) & 255) << 16;
    }
    std::fclose(pal);
    BuildFullPalette(shades);
}
