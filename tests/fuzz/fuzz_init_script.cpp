// Any init.txt runs to its end without harm.
#include "files/init_script.h"
#include "fuzz_support.h"
#include "framework/primitives.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStart();
    FuzzWriteFile("init.txt", data, size);
    RunInitScript();
    if (PenWidth != 0) __builtin_trap();
    return 0;
}
