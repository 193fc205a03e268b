// Writes bytes a user chose to save (a picture, an animation, a scene that
// could be kept nowhere else) under a name of their choice, as a platform's
// save command does: the file replaced whole (its links kept) or made new,
// its bytes coming in parts. For the platforms' PlatformSaveFile calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// One file at a time. Each is true when done; else `failure` says why, and
// the file under the name is as it was.
bool ChosenFileOpen(const char* path, char* failure, size_t failureSize);
bool ChosenFileWrite(const uint8_t* bytes, size_t size, char* failure, size_t failureSize);
// `keep`: the file takes its name; otherwise it is dropped (always true).
bool ChosenFileClose(bool keep, char* failure, size_t failureSize);

// `name` in `folder` (ending in its separator), or "NAME (2).EXT" and so on
// where that is taken: a suggestion that overwrites nothing.
std::string UnusedName(const std::string& folder, const std::string& name);
