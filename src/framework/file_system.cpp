// What every platform's file system gives, written once above them.
#include "framework/file_system.h"

#include <algorithm>

bool FileReadWhole(const char* name, std::vector<uint8_t>* bytes, size_t limit)
{
    std::FILE* file = FileOpenRegular(name, "rb");
    if (!file) return false;
    uint8_t chunk[65536];
    size_t got;
    while (bytes->size() < limit &&
           (got = std::fread(chunk, 1, std::min(sizeof chunk, limit - bytes->size()), file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}
