// Any init.txt runs to its end without harm, with the six colours or a full
// palette of 256 in force (the first byte chooses, and gives the shades).
#include "files/init_script.h"
#include "framework/primitives.h"
#include "fuzz_support.h"
#include "sim/palette.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    if (size == 0) return 0;
    if (data[0] & 1) {
        uint32_t shades[ShadeCount];
        for (int32_t s = 0; s < ShadeCount; ++s) shades[s] = static_cast<uint32_t>(data[0]) * 0x010101u * static_cast<uint32_t>(s);
        BuildFullPalette(shades);
    } else {
        FullPaletteFlag = 0;
        BuildBasePalette();
    }
    FuzzWriteFile("init.txt", data + 1, size - 1);
    RunInitScript();
    if (PenWidth != 0) __builtin_trap();
    return 0;
}
