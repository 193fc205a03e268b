// Checksums of the program's own files: CRC-32 (as PNG and zlib know it)
// guards each record of the session journal; a 64-bit FNV-1a hash tells
// whether a scene file is still the one the journal saw.
#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 of the bytes, continuing from `crc` (0 to start).
uint32_t Crc32(const uint8_t* bytes, size_t size, uint32_t crc = 0);
uint64_t Fnv64(const uint8_t* bytes, size_t size);
