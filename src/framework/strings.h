// Texts from the program's string table.
#pragma once
#include <cstdint>

// Loads string `id` into an 80-byte buffer shared by every call and returns
// it; an unknown id gives the empty text.
const char* LoadResString(uint32_t id);
// The compiled-in table, for platforms without resources; null when unknown.
const char* BuiltInString(uint32_t id);
// PlatformLoadString from the compiled-in table: copies at most size - 1
// characters and a zero; returns the count copied, 0 when unknown.
int32_t CopyBuiltInString(uint32_t id, char* buffer, int32_t size);
