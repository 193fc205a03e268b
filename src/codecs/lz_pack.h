// A small, fast byte compressor for the program's own copies of a scene
// (the session journal's checkpoints, the undo history): repeats become
// references to earlier bytes, as in LZ77. The same bytes come out on every
// platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The packed form of `size` bytes, appended to `out`.
void LzPack(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out);
// Unpacks exactly `size` bytes into `out` from `packed`; false when the
// packed bytes are not a whole packed form of that many bytes (damaged).
bool LzUnpack(const uint8_t* packed, size_t packedSize, uint8_t* out, size_t size);
