// Pixel-exact software drawing with the coverage rules of the Win32 GDI on an
// 8-bit DIB section (default mapping mode, R2_COPYPEN, GM_COMPATIBLE).
#pragma once
#include <cstdint>

// An 8-bit surface the rasteriser writes into; rows are `stride` bytes apart, row 0 on top.
struct RasterTarget { uint8_t* bits; int32_t width; int32_t height; int32_t stride; };

// SetPixel.
void RasterPixel(const RasterTarget& t, int32_t x, int32_t y, uint8_t value);
// MoveToEx(x1, y1) + LineTo(x2, y2) with a PS_SOLID pen of penWidth.
void RasterLine(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t penWidth, uint8_t value);
// Rectangle(left, top, right, bottom): toolMode bit 0 = outline with a PS_SOLID pen of penWidth, bit 1 = fill with a solid brush; both in `value`.
void RasterRect(const RasterTarget& t, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, int32_t penWidth, uint8_t value);
// Ellipse(left, top, right, bottom), tool bits as for RasterRect.
void RasterEllipse(const RasterTarget& t, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, int32_t penWidth, uint8_t value);
// Text as a platform's font drew it: `coverage` holds width x height bytes
// (0 none to 255 full); the box at (x, y) becomes `paper`, the covered
// pixels `ink`, clipped to the target.
void RasterTextMask(const RasterTarget& t, int32_t x, int32_t y, const uint8_t* coverage, int32_t width,
                    int32_t height, uint8_t ink, uint8_t paper);
// The top-left width x height pixels of `from` (rows fromStride bytes apart)
// into `to` (rows toStride apart); the caller clips. Whole rows on both sides
// go in one copy: a present of the full window is one memory.copy on the web.
void RasterCopyBlock(uint8_t* to, int32_t toStride, const uint8_t* from, int32_t fromStride, int32_t width,
                     int32_t height);
