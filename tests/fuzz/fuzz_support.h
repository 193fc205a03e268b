// Set-up shared by the fuzz targets: a headless program in a scratch folder.
#pragma once
#include <cstddef>
#include <cstdint>

// Starts the program once, in a fresh folder that is the current directory.
void FuzzStart();
void FuzzWriteFile(const char* name, const uint8_t* data, size_t size);
