// The program's string table (strings.inc), for platforms that keep no
// resources of their own; Windows has the same table as resources.
#pragma once
#include <cstdint>

// Copies string `id` into buffer (at most size - 1 characters and a zero);
// its length, 0 when the table has no such string.
int32_t CopyTableString(uint32_t id, char* buffer, int32_t size);
