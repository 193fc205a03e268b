#include "app/pictures.h"

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/replay.h"
#include "app/session_state.h"
#include "files/png_image.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

constexpr uint64_t LastMinuteMs = 60000;
// A window shows no more than this many frames a second.
constexpr uint64_t WindowPaceMs = 20;
// How often a long replay looks whether the program is asked to end.
constexpr uint32_t LookEveryMs = 100;

struct LastMinute {
    GifAnimation gif;
    uint64_t startMs = 0;
    uint64_t lastMs = 0;
    uint32_t lookedAt = 0;
    bool ending = false;
};

bool OnShown(const JournalRecord& shown, void* context)
{
    LastMinute& minute = *static_cast<LastMinute*>(context);
    if (shown.playMs >= minute.startMs) {
        GifAddFrame(&minute.gif, SurfaceBits, SurfaceColours, shown.playMs - minute.startMs);
        minute.lastMs = shown.playMs;
    }
    // The window takes no input meanwhile, as with About; an end of the
    // session stops the work and comes after it.
    if (TickCount() - minute.lookedAt >= LookEveryMs) {
        minute.lookedAt = TickCount();
        minute.ending = PumpWhileBusy();
    }
    return !minute.ending;
}

} // namespace

std::vector<uint8_t> PictureOfField()
{
    if (!SurfaceBits || !SurfaceColours) return {};
    return EncodePng(SurfaceBits, SurfaceWidth, SurfaceHeight, SurfaceColours);
}

std::vector<uint8_t> AnimationOfLastMinute(std::string* why)
{
    if (JournalFolder().empty() || !JournalKept()) {
        *why = "This program keeps no journal of its session to make an animation from.";
        return {};
    }
    // The journal holds everything up to now, and a checkpoint of now to
    // come back to.
    JournalCheckpoint();
    JournalFlush();
    JournalReading reading;
    if (!ReadJournal(JournalFolder(), &reading) || reading.records.empty()) {
        *why = "The session's journal could not be read.";
        return {};
    }
    const uint64_t endMs = reading.records.back().playMs;
    LastMinute minute;
    minute.startMs = endMs > LastMinuteMs ? endMs - LastMinuteMs : 0;
    int64_t from = -1;
    for (size_t i = 0; i < reading.records.size(); ++i)
        if (reading.records[i].type == RecordCheckpoint && (from < 0 || reading.records[i].playMs <= minute.startMs))
            from = static_cast<int64_t>(i);
    if (from < 0) {
        *why = "The session's journal has no checkpoint to start from.";
        return {};
    }
    std::vector<uint8_t> now;
    CaptureSessionState(&now);
    const bool capture = ToolState != ToolIdle;
    GifStart(&minute.gif, SurfaceWidth, SurfaceHeight);
    minute.lookedAt = TickCount();
    uint64_t reached = 0;
    size_t endedAt = 0;
    ReplayRecords(reading.records, static_cast<size_t>(from), ~uint64_t{0}, ReplayWatch{nullptr, OnShown, &minute},
                  &reached, &endedAt);
    std::vector<uint8_t> gif = GifFinish(&minute.gif, minute.lastMs - minute.startMs + WindowPaceMs);
    // Back to where the program was, the mouse with it.
    RestoreSessionState(now.data(), now.size());
    CaptureMouse(capture);
    CopyToWindow();
    if (minute.ending) {
        *why = "The animation was not finished: the program is asked to end.";
        return {};
    }
    if (gif.empty()) *why = "No frame has been shown yet.";
    return gif;
}

void SavePicture()
{
    const std::vector<uint8_t> png = PictureOfField();
    if (!png.empty()) OfferFile("Talvo.png", "image/png", png.data(), png.size());
}

void SaveAnimation()
{
    std::string why;
    const std::vector<uint8_t> gif = AnimationOfLastMinute(&why);
    if (gif.empty()) {
        ShowError(why.c_str(), "Talvo");
        return;
    }
    OfferFile("Talvo.gif", "image/gif", gif.data(), gif.size());
}

void FrameAnimationStart(FrameAnimation* animation, uint64_t every, uint64_t from, uint64_t to)
{
    animation->every = every ? every : 1;
    animation->from = from;
    animation->to = to;
    animation->clockMs = 0;
    GifStart(&animation->gif, SurfaceWidth, SurfaceHeight);
}

void FrameAnimationFrameEnds(FrameAnimation* animation, uint64_t frame)
{
    if (frame >= animation->from && frame <= animation->to && (frame - animation->from) % animation->every == 0)
        GifAddFrame(&animation->gif, SurfaceBits, SurfaceColours, animation->clockMs);
    const int32_t frameMs = Speed >= 0 && Speed <= 9 ? FrameTimes[Speed] : 0;
    animation->clockMs += frameMs > 0 ? static_cast<uint64_t>(frameMs) : WindowPaceMs;
}

std::vector<uint8_t> FrameAnimationFinish(FrameAnimation* animation)
{
    return GifFinish(&animation->gif, animation->clockMs);
}
