// Drawing into the surface: pixels, lines, rectangles and ellipses, with the
// pixel coverage of the Win32 GDI, and the copy to the window; text in the
// platform's own font (the program draws none: fonts differ between
// platforms, and the field's bytes must not).
#pragma once
#include <cstddef>
#include <cstdint>

extern int32_t MirrorFlag;
extern int32_t PenWidth;

int32_t PutPixel(int32_t x, int32_t y, uint32_t colour);
void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
// toolMode bit 0 draws the outline with the pen, bit 1 fills with the brush.
void DrawRect(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour);
void DrawEllipse(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t toolMode, uint32_t colour);
void ClearSurface();
int32_t CopyToWindow();
// Bytes the window shows in place of the surface's at those positions, from
// the next copy to the window on; none: the surface alone.
void SetWindowOverlay(const int32_t* positions, const uint8_t* bytes, size_t count);
void SetMirror(int32_t flag);
void SetPenWidth(int32_t width);
void SetBackColour(uint32_t colour);
uint32_t BackColour();
void SetFontHeight(int32_t height);
int32_t PutText(int32_t x, int32_t y, int32_t height, const char* text);
int32_t PutTextColour(int32_t x, int32_t y, int32_t height, const char* text, uint32_t colour);
// Back to the state at process start.
void PrimitivesReset();
