// The field's frames as an animated GIF, by an encoder of the program's own:
// lossless (the surface's 256 colours are the GIF's colour table), small
// (each frame stores only the rectangle that changed), the same bytes on
// every platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The animation being made. It holds the file's bytes not yet taken out and
// two pictures: the one the frames written so far leave, and the newest
// frame, written once the next one says how long it shows.
struct GifAnimation {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> shown;
    uint8_t shownColours[256][4] = {};
    uint8_t globalColours[256][4] = {};
    std::vector<uint8_t> pending;
    uint8_t pendingColours[256][4] = {};
    bool hasPending = false;
    uint64_t pendingAt = 0;
    // Where the delay of the last frame written sits in `bytes` (0: none
    // written yet), and its value in centiseconds.
    size_t delayAt = 0;
    uint32_t delay = 0;
};

// Starts an animation of width x height frames that loops forever. Sides of
// 1 to 65535 pixels; with any other size the animation takes no frames.
void GifStart(GifAnimation* gif, int32_t width, int32_t height);

// A frame, `pixels` indices into `colours` (256 entries of blue, green, red,
// 0), top row first, `width` bytes a row, shown from `atMilliseconds` (not
// decreasing from call to call) until the next frame's time. Delays are
// whole centiseconds from rounded times, so rounding does not add up. A
// frame identical to the one before adds only time; one that would show for
// less than 2 cs gives way to the next frame, which then shows from its
// time: the animation never plays faster than 50 frames a second.
void GifAddFrame(GifAnimation* gif, const uint8_t* pixels, const uint8_t (*colours)[4], uint64_t atMilliseconds);

// Appends to `out` the bytes that no later frame can change (all but the
// last image written, whose time may still grow) and drops them from the
// animation, so that a long one can go to its file as it is made.
void GifTakeSettled(GifAnimation* gif, std::vector<uint8_t>* out);

// The last frame shows until `endMilliseconds` (at least 2 cs). Returns the
// rest of the file (the whole of it when nothing was taken), empty when no
// frame was added, and leaves the animation empty.
std::vector<uint8_t> GifFinish(GifAnimation* gif, uint64_t endMilliseconds);
