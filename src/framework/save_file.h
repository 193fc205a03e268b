// Writes bytes a user chose to save (a picture, an animation) under a name
// of their choice, as a platform's save command does: the file replaced
// whole (its links kept) or made new. For the platforms' PlatformSaveFile.
#pragma once
#include <cstddef>
#include <cstdint>

// True when the bytes are in the file; else `failure` says why.
bool WriteChosenFile(const char* path, const uint8_t* bytes, size_t size, char* failure, size_t failureSize);
