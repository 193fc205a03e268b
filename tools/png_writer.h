// Writes talvo-sim's --png pictures where a PNG encoder is at hand.
#pragma once
#include <cstdint>

// False when this build has no encoder: --png is refused up front.
bool PngAvailable();
// 8-bit RGB rows, top first; false when the file cannot be written.
bool WritePngFile(const char* path, const uint8_t* rgb, int32_t width, int32_t height);
