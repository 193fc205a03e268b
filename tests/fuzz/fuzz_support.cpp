#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../test_support.h"
#include "framework/primitives.h"
#include "sim/palette.h"
#include "ui/menu.h"

void FuzzStart()
{
    static bool started = false;
    if (started) return;
    started = true;
    // In memory where there is room: saves flush to disk.
    char folder[] = "/dev/shm/talvo-fuzz-XXXXXX";
    char fallback[] = "/tmp/talvo-fuzz-XXXXXX";
    const char* made = mkdtemp(folder);
    if (!made) made = mkdtemp(fallback);
    if (!made || chdir(made) != 0) std::abort();
    setenv("XDG_DATA_HOME", (std::string(made) + "/data").c_str(), 1);
    static std::string scratch = made;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });
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
