#include "codecs/checksum.h"

namespace {

struct CrcTable {
    uint32_t entries[256];
    constexpr CrcTable() : entries()
    {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};

constexpr CrcTable Table;

} // namespace

uint32_t Crc32(const uint8_t* bytes, size_t size, uint32_t crc)
{
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = Table.entries[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint64_t Fnv64(const uint8_t* bytes, size_t size)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}
