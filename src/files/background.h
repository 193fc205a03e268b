// The background image: bg.raw gives every cell of a new scene one of 32
// shades, bg.pal their colours.
#pragma once
#include <cstdint>

// Parses up to three numbers as "%d %d %d" would, storing only those the
// line gives; each keeps the low 32 bits of its value.
int32_t ReadColourLine(const char* line, int32_t numbers[3]);
void LoadBackgroundImage();
