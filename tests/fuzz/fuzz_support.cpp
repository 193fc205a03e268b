#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "../test_support.h"
#include "framework/primitives.h"
#include "sim/palette.h"
#include "ui/menu.h"

void FuzzStart()
{
    static bool started = false;
    if (started) return;
    started = true;
    char folder[] = "/tmp/talvo-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) std::abort();
    StartProgram();
    SetMirror(0);
    BuildBasePalette();
    BuildSystemMenu();
}

void FuzzWriteFile(const char* name, const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen(name, "wb");
    if (!file) std::abort();
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}
