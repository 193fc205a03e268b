// The field as a PNG picture, by an encoder of the program's own: the same
// bytes on every platform, with no library to carry.
#pragma once
#include <cstdint>
#include <vector>

// The picture as a PNG file's bytes: 8-bit indexed colour with all 256
// entries of `colours` (blue, green, red, 0) as its palette, `pixels` the
// indices, top row first, `width` bytes a row; deflate-compressed, the same
// bytes for the same input. Empty when the size is not a picture's (either
// side under 1, or more than the format or memory holds) or a pointer is null.
std::vector<uint8_t> EncodePng(const uint8_t* pixels, int32_t width, int32_t height, const uint8_t (*colours)[4]);
