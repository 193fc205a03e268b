// init.txt, bg.raw and bg.pal, the files that shape every new scene.
#pragma once
#include <cstdint>
#include <cstdio>

#include "framework/file_system.h"

// None of them needs more than a fraction of this (bg.raw, the largest, is
// 135072 bytes; a script of 4000 full lines is another): a longer file is
// not one of them, and is skipped unread, as a missing one is. The page
// refuses a dropped file over it before reading it (web/page.js).
constexpr int64_t SideFileLimit = 1 << 20;

// The side file opened for reading, or null when it cannot be or is longer
// than SideFileLimit.
inline std::FILE* OpenSideFile(const char* name, const char* mode)
{
    int64_t length = 0;
    std::FILE* file = FileOpenRegular(name, mode, &length);
    if (file && length > SideFileLimit) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}
