// How large the field shows: the player's choice of whole steps (1 to 4
// times the desktop's own scale, rounded to a whole step; on the page also
// "fit", the largest whole step the page holds), remembered per user in the
// file "zoom" of the data folder. The field's cells stay cells: the
// platform maps the pointer back to them, so nothing above sees the zoom.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int32_t ZoomFit = 0;
constexpr int32_t ZoomLargest = 4;

// The choice a remembered file holds: "1" to "4" (or "fit" where it is
// allowed), a line break after it or not; -1 for anything else.
int32_t ZoomParse(const char* text, size_t size, bool fitAllowed);
// The choice the file at `path` holds; `fallback` when it is absent, not a
// regular file, damaged or out of range.
int32_t ZoomRead(const char* path, int32_t fallback, bool fitAllowed);
// The file's bytes for a choice ("2\n", "fit\n"); their count.
size_t ZoomFormat(int32_t choice, char* out, size_t size);

// Reads the player's choice (the platform's default where none is kept)
// and shows the window so; nothing where the platform has no zoom.
void ZoomStart();
// The field shown at that choice, remembered for the next start.
void ZoomChoose(int32_t choice);
// One whole step larger or smaller (from fit, from 1x), within 1x to 4x.
void ZoomStep(int32_t delta);
// The choice in force; -1 before ZoomStart or where there is no zoom.
int32_t ZoomChoice();
void ZoomStateReset();
