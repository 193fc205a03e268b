// Any bg.raw and bg.pal pair (the input split at its first byte's share)
// shades the field and builds a palette without harm.
#include "files/background.h"
#include "fuzz_support.h"
#include "sim/palette.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    if (size == 0) return 0;
    const size_t rawSize = (size - 1) * data[0] / 255;
    FuzzWriteFile("bg.raw", data + 1, rawSize);
    FuzzWriteFile("bg.pal", data + 1 + rawSize, size - 1 - rawSize);
    LoadBackgroundImage();
    if (FullPaletteFlag != 1) __builtin_trap();
    return 0;
}
