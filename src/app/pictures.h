// Pictures and animations of the field, to share: a PNG of the field as the
// window shows it, and an animated GIF of the last minute of play, made from
// the session's journal by playing it again. talvo-sim makes both from any
// run, scripted or replayed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "files/gif_animation.h"

// The field, 336 x 402, through the colour table in force, as a PNG.
std::vector<uint8_t> PictureOfField();

// The last minute of play, or the whole session when it is shorter, each
// frame as the window showed it (at most 50 a second) for as long as it did.
// The program goes on from where it was. Empty, with `why`, when there is
// no journal to make it from, or something asked the program to end.
std::vector<uint8_t> AnimationOfLastMinute(std::string* why);

// The window's commands: the picture or the animation offered as a file.
void SavePicture();
void SaveAnimation();

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
