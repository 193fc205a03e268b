#include "app/pictures.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/replay.h"
#include "codecs/png_image.h"
#include "framework/palette_builder.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/strings.h"
#include "framework/window.h"

namespace {

constexpr uint64_t LastMinuteMs = 60000;
// A window shows no more than this many frames a second.
constexpr uint64_t WindowPaceMs = 20;
// How often a long replay shows its progress, looks for a Cancel or the end
// of the program, and lets the window answer (paints, a move, a screen
// reader's questions) as a window that waits on nothing would.
constexpr uint32_t LookEveryMs = 25;
// The animation goes to its file in pieces of about this size, so that
// what is held stays small however busy the minute was.
constexpr size_t PieceBytes = 256u << 10;

const char Making[] = N_("Making the animation of the last minute\xE2\x80\xA6");

struct LastMinute {
    GifAnimation gif;
    uint64_t startMs = 0;
    uint64_t lastMs = 0;
    uint64_t firstFrame = 0, lastFrame = 0;
    uint32_t lookedAt = 0;
    bool ending = false, cancelled = false, failed = false;
    std::vector<uint8_t> piece;
    char failure[512] = "";
};

void WritePiece(LastMinute& minute)
{
    if (minute.piece.empty() || minute.failed) return;
    minute.failed = !OfferFilePart(minute.piece.data(), minute.piece.size(), minute.failure, sizeof minute.failure);
    minute.piece.clear();
}

// Paints, the progress, a Cancel and the end of the program, with the
// live scene in hand: the window shows it, untouched by the replay's copy.
void Look(LastMinute& minute, uint64_t frame)
{
    const HoldScene live(&LiveScene);
    minute.lookedAt = TickCount();
    const uint64_t span = minute.lastFrame > minute.firstFrame ? minute.lastFrame - minute.firstFrame : 1;
    const uint64_t done = frame > minute.firstFrame ? std::min(frame - minute.firstFrame, span) : 0;
    ShowProgress(Translated(Making), static_cast<int32_t>(done * 1000 / span));
    minute.ending = PumpWhileBusy(&minute.cancelled);
}

bool OnShown(const JournalRecord& shown, void* context)
{
    LastMinute& minute = *static_cast<LastMinute*>(context);
    if (shown.playMs >= minute.startMs) {
        GifAddFrame(&minute.gif, SceneInHand->field, SceneColours(*SceneInHand), shown.playMs - minute.startMs);
        minute.lastMs = shown.playMs;
        GifTakeSettled(&minute.gif, &minute.piece);
        if (minute.piece.size() >= PieceBytes) WritePiece(minute);
    }
    // The window takes no input meanwhile, as with About; an end of the
    // session stops the work and comes after it.
    if (TickCount() - minute.lookedAt >= LookEveryMs) Look(minute, shown.frame);
    return !minute.ending && !minute.cancelled && !minute.failed;
}

} // namespace

std::string NameOfNow(const char* ending)
{
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, " %Y-%m-%d %H-%M-%S", local);
    return std::string("Talvo") + stamp + ending;
}

std::vector<uint8_t> PictureOfField()
{
    if (!SurfaceBits || !SurfaceColours) return {};
    return EncodePng(SurfaceBits, SurfaceWidth, SurfaceHeight, SurfaceColours);
}

void SavePicture()
{
    const std::vector<uint8_t> png = PictureOfField();
    if (!png.empty()) OfferFile(NameOfNow(".png").c_str(), "image/png", png.data(), png.size());
}

void SaveAnimation()
{
    // The newest stroke is on the window before anything else happens.
    CopyToWindow();
    if (JournalFolder().empty() || !JournalKept()) {
        ShowError(Translated("This program keeps no journal of its session to make an animation from."), "Talvo");
        return;
    }
    if (JournalStalled()) {
        ShowError(Translated("The session's journal cannot be written now, so there is no animation to make from it."), "Talvo");
        return;
    }
    // The journal holds everything up to now, and a checkpoint of now to
    // come back to.
    JournalCheckpoint();
    JournalFlush();
    JournalReading reading;
    if (!ReadJournal(JournalFolder(), &reading) || reading.records.empty()) {
        ShowError(Translated("The session's journal could not be read."), "Talvo");
        return;
    }
    LastMinute minute;
    const uint64_t endMs = reading.records.back().playMs;
    minute.startMs = endMs > LastMinuteMs ? endMs - LastMinuteMs : 0;
    int64_t from = -1;
    for (size_t i = 0; i < reading.records.size(); ++i)
        if (reading.records[i].type == RecordCheckpoint && (from < 0 || reading.records[i].playMs <= minute.startMs))
            from = static_cast<int64_t>(i);
    if (from < 0) {
        ShowError(Translated("The session's journal has no checkpoint to start from."), "Talvo");
        return;
    }
    const int32_t offered = OfferFileStart(NameOfNow(".gif").c_str(), "image/gif", minute.failure, sizeof minute.failure);
    if (offered < 0) ShowError(minute.failure, "Talvo");
    if (offered <= 0) return;

    // Played on a copy of its own: the live scene stays as it is.
    const auto copy = std::make_unique<Scene>();
    minute.firstFrame = reading.records[static_cast<size_t>(from)].frame;
    minute.lastFrame = reading.records.back().frame;
    GifStart(&minute.gif, SurfaceWidth, SurfaceHeight);
    Look(minute, minute.firstFrame);
    uint64_t reached = 0;
    size_t endedAt = 0;
    if (!minute.ending && !minute.cancelled)
        ReplayRecords(copy.get(), reading.records, static_cast<size_t>(from), ~uint64_t{0},
                      ReplayWatch{nullptr, OnShown, &minute}, &reached, &endedAt);
    reading = JournalReading{};
    const bool stopped = minute.ending || minute.cancelled || minute.failed;
    std::vector<uint8_t> rest = GifFinish(&minute.gif, minute.lastMs - minute.startMs + WindowPaceMs);
    const bool empty = rest.empty();
    if (!stopped) {
        minute.piece.insert(minute.piece.end(), rest.begin(), rest.end());
        WritePiece(minute);
    }
    ShowProgress(nullptr, -1);
    CopyToWindow();
    const bool keep = !stopped && !minute.failed && !empty;
    char failure[512] = "";
    const int32_t saved = OfferFileEnd(keep, failure, sizeof failure);
    if (minute.ending || minute.cancelled) return;
    if (minute.failed)
        ShowError(minute.failure, "Talvo");
    else if (empty)
        ShowError(Translated("No frame has been shown yet."), "Talvo");
    else if (saved < 0)
        ShowError(failure, "Talvo");
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
    Scene& scene = *SceneInHand;
    if (frame >= animation->from && frame <= animation->to && (frame - animation->from) % animation->every == 0)
        GifAddFrame(&animation->gif, scene.field, SceneColours(scene), animation->clockMs);
    const int16_t speed = scene.settings.speed;
    const int32_t frameMs = speed >= 0 && speed <= 9 ? FrameTimes[speed] : 0;
    animation->clockMs += frameMs > 0 ? static_cast<uint64_t>(frameMs) : WindowPaceMs;
}

std::vector<uint8_t> FrameAnimationFinish(FrameAnimation* animation)
{
    return GifFinish(&animation->gif, animation->clockMs);
}
