// Builds without a PNG library (the Windows talvo-sim: Debian has no libpng
// for MinGW) write no pictures.
#include "png_writer.h"

bool PngAvailable() { return false; }

bool WritePngFile(const char*, const uint8_t*, int32_t, int32_t) { return false; }
