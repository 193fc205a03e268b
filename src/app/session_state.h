// The whole state of the running program that later frames depend on, as
// bytes: what the journal's checkpoints hold. A scene file alone cannot
// restart a replay: this adds both generators, the pouring counters, the
// palette the file leaves out, the colour tables as they stand, the "Drawing
// on" switch, the stroke under way and the scene's name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

void CaptureSessionState(std::vector<uint8_t>* out);
// Puts captured state in force, the menu's marks with it; false, with
// nothing changed, when the bytes are not a whole, valid state.
bool RestoreSessionState(const uint8_t* bytes, size_t size);
