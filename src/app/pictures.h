// Pictures and animations of the field, to share: a PNG of the field as the
// window shows it, and an animated GIF of the last minute of play, made from
// the session's journal by playing it again. talvo-sim makes both from any
// run, scripted or replayed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/gif_animation.h"

// The field, 336 x 402, through the colour table in force, as a PNG.
std::vector<uint8_t> PictureOfField();

// The window's commands: the picture, or the animation of the last minute
// of play (the whole session when it is shorter, each frame as the window
// showed it, at most 50 a second, for as long as it did), offered as a file
// under a name of its moment. The animation is made by playing the journal
// again after the user chose where it goes, and written there as it is
// made, with its progress shown and a Cancel; the window shows the field as
// it was meanwhile, and the program goes on from there.
void SavePicture();
void SaveAnimation();
// "Talvo 2026-05-01 18-04-22.png": the name a picture of now is offered
// under, with `ending`.
std::string NameOfNow(const char* ending);

// An animation taken a frame every `every` frames of frames `from` to `to`,
// each shown for the frame times of the speeds it took ("No wait" counted
// as 20 ms, the pace of a window).
struct FrameAnimation {
    GifAnimation gif;
    uint64_t every = 1, from = 0, to = ~uint64_t{0};
    uint64_t clockMs = 0;
};
void FrameAnimationStart(FrameAnimation* animation, uint64_t every, uint64_t from, uint64_t to);
// Frame `frame` has ended (its input is in): kept when it is one of those
// asked for.
void FrameAnimationFrameEnds(FrameAnimation* animation, uint64_t frame);
std::vector<uint8_t> FrameAnimationFinish(FrameAnimation* animation);
