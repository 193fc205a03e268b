// Texts from the program's string table.
#pragma once
#include <cstdint>

// Loads string `id` into an 80-byte buffer shared by every call and returns
// it; an unknown id gives the empty text.
const char* LoadResString(uint32_t id);
