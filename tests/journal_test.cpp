// The session journal and undo: packing, the segment format and its damage,
// a rebuild after an unclean end (against a run that kept no journal), the
// scene's lock, and the undo history.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/history.h"
#include "app/journal.h"
#include "app/main_routine.h"
#include "app/replay.h"
#include "app/scene_handlers.h"
#include "app/scene_bytes.h"
#include "app/standard_random.h"
#include "codecs/checksum.h"
#include "files/journal_file.h"
#include "codecs/lz_pack.h"
#include "files/scene_file.h"
#include "framework/file_system.h"
#include "framework/headless/headless.h"
#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "framework/window_menu.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/pen.h"
#include "ui/settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The scene file's bytes with both generators: what a later frame depends on.
Bytes SceneNow()
{
    size_t size = 0;
    const uint8_t* bytes = EncodedScene(&size);
    Bytes state(bytes, bytes + size);
    for (uint32_t v : {StepRandom.s1, StepRandom.s2, StandardRandomState()})
        for (int i = 0; i < 4; ++i) state.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return state;
}

Bytes Packed(const Bytes& raw)
{
    Bytes packed;
    LzPack(raw.data(), raw.size(), &packed);
    return packed;
}

TEST(Packing, ComesBackWholeAndRefusesWhatIsCutOrWrong)
{
    StartProgram();
    StartUp();
    for (int frame = 0; frame < 300; ++frame) RunFrame();
    std::mt19937 random(7);
    Bytes noise(5000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    const Bytes field(Field, Field + FieldSize);
    for (const Bytes& raw : {field, Bytes(70000, 1), noise, Bytes()}) {
        const Bytes packed = Packed(raw);
        Bytes back(raw.size());
        ASSERT_TRUE(LzUnpack(packed.data(), packed.size(), back.data(), back.size()));
        EXPECT_EQ(back, raw);
        // A size that is not the packed one's, or any cut, is refused.
        Bytes other(raw.size() + 1);
        EXPECT_FALSE(LzUnpack(packed.data(), packed.size(), other.data(), other.size()));
        for (size_t cut = 0; cut < packed.size(); cut += 1 + packed.size() / 300)
            ASSERT_FALSE(LzUnpack(packed.data(), cut, back.data(), back.size())) << cut;
    }
    // A pouring scene's field is mostly runs and repeats.
    EXPECT_LT(Packed(field).size(), field.size() / 4);
}

// Literal runs and repeats whose lengths end on and around each place where
// a length goes on into another byte (15, then every 255 more), repeats at
// the farthest distance there is and just past it, and the longest ones.
TEST(Packing, LengthsAndDistancesAtTheFormatsLimitsComeBackWhole)
{
    std::mt19937 random(11);
    auto noise = [&random](size_t n) {
        Bytes b(n);
        for (uint8_t& v : b) v = static_cast<uint8_t>(random());
        return b;
    };
    std::vector<Bytes> cases;
    for (size_t literals : {1, 13, 14, 15, 16, 17, 268, 269, 270, 271, 272, 523, 524, 525, 526, 527, 780})
        for (size_t repeat : {0, 4, 17, 18, 19, 20, 21, 272, 273, 274, 275, 276, 527, 528, 529, 530, 531, 784}) {
            // The repeat: one byte again and again, a match at distance 1.
            Bytes b = noise(literals);
            b.insert(b.end(), repeat, b.back());
            cases.push_back(b);
        }
    for (size_t distance : {65534, 65535, 65536}) {
        Bytes b = noise(16);
        b.resize(distance, 0);
        const Bytes tail = noise(40);
        b.insert(b.end(), b.begin(), b.begin() + 16);
        b.insert(b.end(), tail.begin(), tail.end());
        cases.push_back(b);
    }
    cases.push_back(noise(70000));
    cases.push_back(Bytes(1u << 20, 9));
    for (const Bytes& raw : cases) {
        const Bytes packed = Packed(raw);
        Bytes back(raw.size());
        ASSERT_TRUE(LzUnpack(packed.data(), packed.size(), back.data(), back.size())) << raw.size();
        ASSERT_EQ(back, raw);
        ASSERT_FALSE(LzUnpack(packed.data(), packed.size() - 1, back.data(), back.size())) << raw.size();
    }
}

// Scenes the program makes, many of them: each checkpoint's state packs and
// comes back whole, and a stroke on it is undone to exactly the scene before
// and redone to exactly the one after.
TEST(Packing, RealScenesAndTheirUndoStepsComeBackWhole)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        PinClockSeconds(seed);
        StartProgram();
        StartUp();
        for (int frame = 1; frame <= 1200; ++frame) {
            RunFrame();
            if (frame % 25) continue;
            SCOPED_TRACE(testing::Message() << "seed " << seed << " frame " << frame);
            Bytes state;
            SceneToBytes(LiveScene, &state);
            const Bytes packed = Packed(state);
            Bytes back(state.size());
            ASSERT_TRUE(LzUnpack(packed.data(), packed.size(), back.data(), back.size()));
            ASSERT_EQ(back, state);
            const Bytes before = SceneNow();
            const std::string y = std::to_string(70 + frame % 320), x = std::to_string(10 + frame % 300);
            ScheduleEvents("1 lbuttondown 20 " + y + "\n1 mousemove " + x + " " + y + "\n1 lbuttonup 0 0\n");
            PumpMessages();
            const Bytes after = SceneNow();
            ScheduleEvents("1 char 26\n");
            PumpMessages();
            ASSERT_EQ(SceneNow(), before);
            ScheduleEvents("1 char 25\n");
            PumpMessages();
            ASSERT_EQ(SceneNow(), after);
        }
    }
}

TEST(Checksums, KnownAnswers)
{
    auto fnv = [](const std::string& s) { return Fnv64(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    EXPECT_EQ(fnv(""), 0xcbf29ce484222325u);
    EXPECT_EQ(fnv("a"), 0xaf63dc4c8601ec8cu);
    EXPECT_EQ(fnv("foobar"), 0x85944171f73967e8u);
    const std::string digits = "123456789";
    const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
    EXPECT_EQ(Crc32(d, 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(d + 4, 5, Crc32(d, 4)), 0xCBF43926u) << "continued from a first part";
    EXPECT_EQ(Crc32(d, 0), 0u);
}

Bytes Segment(const std::vector<JournalRecord>& records)
{
    Bytes bytes;
    StartJournalSegment(&bytes);
    for (const JournalRecord& r : records) AppendJournalRecord(r, &bytes);
    return bytes;
}

TEST(JournalSegments, EveryRecordComesBackAndACutOrDamageEndsTheReadingThere)
{
    JournalRecord header, checkpoint, input, tick;
    header.type = RecordHeader, header.utc = 1700000000000, header.seed = 12345, header.hash = 0xFEEDu;
    header.text = "/scenes/garden.talvo";
    checkpoint.type = RecordCheckpoint, checkpoint.frame = 5, checkpoint.playMs = 180, checkpoint.utc = 1700000001000;
    checkpoint.hash = 7, checkpoint.text = "/scenes/garden.talvo", checkpoint.rawSize = 3, checkpoint.data = {1, 2, 3};
    input.type = RecordInput, input.frame = 6, input.playMs = 216, input.message = 0x201, input.wParam = 1;
    input.lParam = 0x00C80064;
    tick.type = RecordTick, tick.frame = 30, tick.playMs = 1080, tick.utc = 1700000002000;
    const std::vector<JournalRecord> all = {header, checkpoint, input, tick};
    const Bytes bytes = Segment(all);
    std::vector<JournalRecord> read;
    ASSERT_EQ(ReadJournalSegment(bytes.data(), bytes.size(), &read), SegmentWhole);
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].text, header.text);
    EXPECT_EQ(read[0].hash, header.hash);
    EXPECT_EQ(read[0].seed, 12345u);
    EXPECT_EQ(read[1].data, checkpoint.data);
    EXPECT_EQ(read[1].rawSize, 3u);
    EXPECT_EQ(read[2].lParam, input.lParam);
    EXPECT_EQ(read[2].frame, 6u);
    EXPECT_EQ(read[3].utc, tick.utc);

    // Cut at every byte of the last record: the ones before it, whole.
    const size_t lastStarts = Segment({header, checkpoint, input}).size();
    for (size_t cut = lastStarts; cut < bytes.size(); ++cut) {
        read.clear();
        ASSERT_EQ(ReadJournalSegment(bytes.data(), cut, &read), cut == lastStarts ? SegmentWhole : SegmentCut);
        ASSERT_EQ(read.size(), 3u) << cut;
    }
    // A byte changed in the checkpoint: the reading stops before it.
    Bytes damaged = bytes;
    damaged[Segment({header}).size() + 20] ^= 0x40;
    read.clear();
    EXPECT_EQ(ReadJournalSegment(damaged.data(), damaged.size(), &read), SegmentCut);
    EXPECT_EQ(read.size(), 1u);
    // Not a journal, or one of another version: nothing.
    const std::string garbage = "PNG\r\n\x1a\n random bytes";
    const std::string later = "TALVO journal 2\nwhatever follows", earlier = "TALVO journal 0\nwhatever follows";
    read.clear();
    EXPECT_EQ(ReadJournalSegment(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size(), &read), SegmentForeign);
    EXPECT_EQ(ReadJournalSegment(reinterpret_cast<const uint8_t*>(later.data()), later.size(), &read),
              SegmentOtherVersion);
    EXPECT_EQ(ReadJournalSegment(reinterpret_cast<const uint8_t*>(earlier.data()), earlier.size(), &read),
              SegmentOtherVersion);
    EXPECT_TRUE(read.empty());
}

// The program started on a scene, s.talvo unless named, in this process.
void StartOnScene(const std::string& name = "s.talvo")
{
    StartProgram();
    static std::string scene;
    scene = name;
    static char* args[] = {nullptr, nullptr, nullptr};
    args[1] = scene.data();
    SetProgramArguments(2, args);
    StartUp();
}

// A session in this process on scene s.talvo at Normal speed, keeping a
// journal, until `frames` frames have run with the scripted input; then it
// is dropped as a crash drops it, the lock with it.
void CrashedSession(const char* events, int frames)
{
    SetJournalKept(true);
    PinClockSeconds(5);
    StartOnScene();
    ScheduleEvents(events);
    for (int frame = 0; frame < frames; ++frame) RunFrame();
    JournalReset();
    SetJournalKept(false);
}

// The state after the frame and the input the note names, by a run that
// keeps no journal; and the rebuilt one, as a start on the scene finds it.
// With `after`, both go on with that input for a few frames: a stroke the
// end cut off is over after the rebuild, so the straight run has its button
// released first.
struct Rebuilt {
    Bytes expected, rebuilt;
    Bytes expectedAfter, rebuiltAfter;
    std::string note;
};

Bytes GoOn(const std::string& events)
{
    ScheduleEvents(events);
    for (int frame = 0; frame < 4; ++frame) RunFrame();
    return SceneNow();
}

Rebuilt Rebuild(const std::string& events, const std::string& after = "")
{
    Rebuilt r;
    StartOnScene();
    r.rebuilt = SceneNow();
    r.note = JournalTakeNote();
    const size_t at = r.note.find("(frame ");
    const uint64_t frame = at == std::string::npos ? 0 : std::stoull(r.note.substr(at + 7));
    std::filesystem::rename("s.talvo", "rebuilt.talvo");
    if (!after.empty()) r.rebuiltAfter = GoOn(after);
    PinClockSeconds(5);
    StartOnScene();
    ScheduleEvents(events);
    for (uint64_t i = 0; i < frame; ++i) RunFrame();
    r.expected = SceneNow();
    if (!after.empty()) r.expectedAfter = GoOn("1 lbuttonup 0 0\n1 rbuttonup 0 0\n" + after);
    return r;
}

class Journal : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(Journal, ABuildAfterAnUncleanEndIsTheLastFlushedFrameOfTheSession)
{
    // Strokes of both tools, Clear and an undo, at Normal speed: 36 ms a
    // frame, so the journal is flushed every 28 frames or so.
    const char* events = "1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 mousemove 240 230\n"
                         "8 lbuttonup 240 230\n40 command 7\n50 rbuttondown 40 80\n51 mousemove 300 320\n"
                         "52 rbuttonup 300 320\n60 char 26\n70 lbuttondown 20 380\n71 mousemove 320 380\n";
    CrashedSession(events, 100);
    // The stroke of frame 70 was under way: moves after the rebuild draw nothing.
    const Rebuilt r = Rebuild(events, "2 mousemove 100 250\n3 mousemove 200 260\n3 mousemove 60 120\n");
    ASSERT_NE(r.note.find("did not end cleanly"), std::string::npos) << r.note;
    EXPECT_EQ(r.rebuilt, r.expected);
    EXPECT_EQ(r.rebuiltAfter, r.expectedAfter) << "the stroke cut off by the end went on drawing";
    EXPECT_EQ(ReadFileBytes("rebuilt.talvo"), Bytes(r.rebuilt.begin(), r.rebuilt.end() - 12))
        << "the rebuilt scene is saved at once";
    // Nothing is left to rebuild afterwards; nor after a clean end.
    SetJournalKept(true);
    StartOnScene();
    EXPECT_EQ(JournalTakeNote(), "");
    ScheduleEvents(events);
    for (int frame = 0; frame < 50; ++frame) RunFrame();
    OnClose(nullptr, 0, 0, 0);
    JournalReset();
    SetJournalKept(false);
    StartOnScene();
    EXPECT_EQ(JournalTakeNote(), "");
}

// Every item of the menu that changes a setting is kept as input, so that a
// rebuild and the animation play it; Clear is kept by a checkpoint, About
// changes nothing.
TEST_F(Journal, EverySettingOfTheMenuIsKeptAsInput)
{
    StartOnScene();
    std::istringstream lines(MenuText());
    int items = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t mark = line.find("] ");
        if (mark == std::string::npos) continue;
        const uint32_t id = static_cast<uint32_t>(std::stoul(line.substr(mark + 2)));
        ++items;
        if (id != CmdClear && id != CmdAbout) EXPECT_TRUE(IsSceneInput(WmSysCommand, id)) << line;
    }
    EXPECT_EQ(items, 24) << MenuText();
}

// What a checkpoint takes is what putting it back gives, mid-pour and in the
// middle of the keyboard pen's stroke, after the program has moved on:
// nothing is left to the defaults.
TEST_F(Journal, ACheckpointPutBackIsTheStateItWasTakenFrom)
{
    StartOnScene();
    ScheduleEvents("1 command 42\n5 key 32\n6 key 39 shift\n");
    for (int frame = 0; frame < 30; ++frame) RunFrame();
    ASSERT_NE(GateCountdown, 4) << "taken where the gate's countdown has moved";
    ASSERT_EQ(ToolState, ToolPen) << "taken in the middle of a stroke";
    std::vector<uint8_t> taken, back;
    SceneToBytes(LiveScene, &taken);
    ScheduleEvents("1 keyup 32\n2 command 44\n4 lbuttondown 20 20 ctrl\n");
    for (int frame = 0; frame < 50; ++frame) RunFrame();
    ASSERT_TRUE(SceneFromBytes(taken.data(), taken.size(), &LiveScene));
    SceneToBytes(LiveScene, &back);
    EXPECT_TRUE(back == taken) << "the state put back differs from the one taken";
}

// A replay on a copy (the animation's, talvo-sim's) ends where the session
// was when its journal was read, mid-stroke, and the live scene, the menu's
// marks and the mouse stay as they are all the while, though the live scene
// has moved on since: its stroke ended, another speed, another wall colour.
TEST_F(Journal, AReplayOnACopyEndsWhereTheSessionIsAndNeverTouchesTheLiveScene)
{
    SetJournalKept(true);
    PinClockSeconds(5);
    StartOnScene();
    ScheduleEvents("1 command 42\n3 command 52\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n"
                   "30 command 31\n40 rbuttondown 20 80\n41 mousemove 300 320\n90 lbuttondown 30 300\n"
                   "91 mousemove 200 300\n");
    for (int frame = 0; frame < 120; ++frame) RunFrame();
    ASSERT_EQ(ToolState, ToolEraser) << "the session ends in the middle of a stroke";
    JournalFlush();
    JournalReading reading;
    ASSERT_TRUE(ReadJournal(JournalFolder(), &reading));
    const int64_t first = LastCheckpointAtOrBefore(reading.records, 0);
    ASSERT_GE(first, 0);
    Bytes atEnd;
    SceneToBytes(LiveScene, &atEnd);
    // The live stroke ends, and the mouse goes free, where the copy's goes on.
    WndProc(MainWindow, WmRButtonUp, 0, 320 << 16 | 300);
    ASSERT_FALSE(HeadlessCaptured());
    WndProc(MainWindow, WmSysCommand, CmdSpeedBase + 4, 0);
    // The wall drawn in the colour of the second grains: a replay that drew
    // by the window's colours would draw its walls as grains.
    BaseColours[1] = BaseColours[4];
    BuildBasePalette();

    struct Live {
        Bytes scene;
        std::string menu;
        bool captured;
        int checked = 0, changed = 0;
    } live;
    SceneToBytes(LiveScene, &live.scene);
    live.menu = MenuText();
    live.captured = HeadlessCaptured();
    ReplayWatch watch;
    watch.context = &live;
    watch.frameEnds = [](uint64_t, void* context) {
        Live& was = *static_cast<Live*>(context);
        Bytes now;
        SceneToBytes(LiveScene, &now);
        ++was.checked;
        if (now != was.scene || MenuText() != was.menu || HeadlessCaptured() != was.captured) ++was.changed;
        return true;
    };
    Scene copy;
    uint64_t reached = 0;
    size_t endedAt = 0;
    ASSERT_TRUE(ReplayRecords(&copy, reading.records, static_cast<size_t>(first), ~uint64_t{0}, watch, &reached, &endedAt));
    EXPECT_GT(live.checked, 100);
    EXPECT_EQ(live.changed, 0) << "the live scene, the menu or the mouse changed while a copy was played";
    Bytes played, after;
    SceneToBytes(copy, &played);
    SceneToBytes(LiveScene, &after);
    EXPECT_TRUE(played == atEnd) << "the copy did not end where the session was";
    EXPECT_TRUE(after == live.scene);
    EXPECT_EQ(MenuText(), live.menu);
    EXPECT_TRUE(SceneIsLive());

    // A copy of the copy, and the copy put in force once the live scene has
    // moved on, are the same scene to the last byte.
    Scene again;
    CopyScene(copy, &again);
    Bytes copied, inForce;
    SceneToBytes(again, &copied);
    EXPECT_TRUE(copied == played);
    PutSceneInForce(copy);
    SceneToBytes(LiveScene, &inForce);
    EXPECT_TRUE(inForce == played);
    SetJournalKept(false);
}

// A copy has cells and grains of its own, and what is done to it, held or
// not, stays there; the live scene put back from it keeps the window's cells.
TEST_F(Journal, ACopyOfTheSceneHasItsOwnCellsAndTheLiveOneKeepsTheWindows)
{
    StartOnScene();
    for (int frame = 0; frame < 20; ++frame) RunFrame();
    Bytes before;
    SceneToBytes(LiveScene, &before);
    Scene copy;
    CopyScene(LiveScene, &copy);
    ASSERT_NE(copy.field, Field);
    ASSERT_NE(copy.grains, ParticleList);
    copy.grains[0] += FieldWidth;
    copy.settings.speed = 0;
    {
        const HoldScene hold(&copy);
        EXPECT_FALSE(SceneIsLive());
        StampSquare(100, 300, 5, CellWall);
        AdvanceFrame();
    }
    EXPECT_TRUE(SceneIsLive());
    EXPECT_EQ(copy.field[FieldPos(100, 300)] & KindMask, CellWall);
    Bytes after;
    SceneToBytes(LiveScene, &after);
    EXPECT_TRUE(after == before) << "what was done to the copy reached the live scene";

    PutSceneInForce(copy);
    EXPECT_EQ(Field, SurfaceBits) << "the live scene left the window's cells";
    EXPECT_EQ(Field[FieldPos(100, 300)] & KindMask, CellWall);
    EXPECT_EQ(Speed, 0);
}

// One reset puts the whole live scene back to its start, whatever the
// session left in it.
TEST_F(Journal, AResetPutsTheLiveSceneBackToItsStart)
{
    PinClockSeconds(5);
    StartOnScene();
    Bytes start;
    SceneToBytes(LiveScene, &start);
    ScheduleEvents("1 command 42\n2 command 31\n3 command 52\n5 lbuttondown 100 200\n6 mousemove 160 210\n");
    for (int frame = 0; frame < 200; ++frame) RunFrame();
    std::snprintf(DamagedScene, sizeof DamagedScene, "%s", "refused.talvo");
    FullPaletteFlag = 1;
    Bytes moved;
    SceneToBytes(LiveScene, &moved);
    ASSERT_FALSE(moved == start);
    StartOnScene();
    Bytes again;
    SceneToBytes(LiveScene, &again);
    EXPECT_TRUE(again == start) << "the reset left something of the session behind";
}

// A replay asked to end at a frame plays that frame's input, from the
// checkpoint at or before the frame it starts from (talvo-sim's --gif-frames).
TEST_F(Journal, AReplayEndsAtTheFrameAskedForAndStartsAtTheCheckpointOfItsFirst)
{
    CrashedSession("1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n"
                   "40 command 7\n45 lbuttondown 30 300\n46 lbuttonup 300 300\n",
                   100);
    std::string folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::getenv("XDG_DATA_HOME")))
        if (entry.path().extension() == ".seg") folder = entry.path().parent_path().string() + "/";
    JournalReading reading;
    ASSERT_TRUE(ReadJournal(folder, &reading)) << folder;
    const std::vector<JournalRecord>& records = reading.records;
    const int64_t last = LastCheckpointAtOrBefore(records, ~uint64_t{0});
    ASSERT_GT(last, 0);
    const uint64_t cleared = records[static_cast<size_t>(last)].frame;
    EXPECT_EQ(LastCheckpointAtOrBefore(records, cleared), last) << "the Clear's own checkpoint";
    const int64_t first = LastCheckpointAtOrBefore(records, cleared - 1);
    ASSERT_GE(first, 0);
    EXPECT_LT(records[static_cast<size_t>(first)].frame, cleared);

    const auto press = std::find_if(records.begin(), records.end(),
                                    [](const JournalRecord& r) { return r.type == RecordInput && r.message == WmLButtonDown; });
    ASSERT_NE(press, records.end());
    StartOnScene();
    uint64_t reached = 0;
    size_t endedAt = 0;
    ASSERT_TRUE(ReplayRecords(&LiveScene, records, static_cast<size_t>(first), press->frame, ReplayWatch{}, &reached,
                              &endedAt));
    EXPECT_EQ(reached, press->frame);
    EXPECT_EQ(ToolState, ToolPen) << "the press of the last frame asked for was played";
}

// A long session at Slow (a checkpoint every minute of play, 1200 frames,
// and a flush every ten frames): the segments before the newest checkpoint
// a minute old are gone, and what is left rebuilds the scene. After the
// last periodic checkpoint come Clear, undo and redo (each a checkpoint of
// its own), then every other command that changes the scene, each followed
// by a stroke, which the rebuild replays.
TEST_F(Journal, ALongSessionOfEveryCommandIsRebuiltFromWhatIsLeftOfItsJournal)
{
    std::string events = "1 command 41\n";
    auto stroke = [&events](int frame, const char* down, int y) {
        const std::string f = std::to_string(frame), up = std::string(down) == "lbuttondown" ? "lbuttonup" : "rbuttonup";
        events += f + " " + down + " 30 " + std::to_string(y) + "\n" + f + " mousemove 150 " + std::to_string(y + 9) +
                  "\n" + std::to_string(frame + 1) + " mousemove 300 " + std::to_string(y) + "\n" +
                  std::to_string(frame + 2) + " " + up + " 300 0\n";
    };
    for (int frame = 100; frame < 2400; frame += 230) stroke(frame, "lbuttondown", 90 + frame % 290);
    events += "2450 command 7\n";
    stroke(2455, "lbuttondown", 200);
    stroke(2460, "lbuttondown", 300);
    events += "2470 char 26\n2475 char 25\n";
    int frame = 2480;
    for (const int command : {22, 32, 54, 64, 43, 20, 30, 50, 60, 10, 41, 10, 21, 31}) {
        events += std::to_string(frame) + " command " + std::to_string(command) + "\n";
        stroke(frame + 1, "lbuttondown", 100 + frame % 250);
        stroke(frame + 4, "rbuttondown", 95 + frame % 250);
        frame += 10;
    }
    CrashedSession(events.c_str(), 2640);
    int segments = 0;
    bool first = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::getenv("XDG_DATA_HOME"))) {
        segments += entry.path().extension() == ".seg";
        first = first || entry.path().filename() == JournalSegmentName(0);
    }
    EXPECT_FALSE(first) << "the oldest segments stay";
    EXPECT_GT(segments, 50);
    const Rebuilt r = Rebuild(events);
    ASSERT_NE(r.note.find("did not end cleanly"), std::string::npos) << r.note;
    EXPECT_NE(r.note.find("(frame 26"), std::string::npos) << r.note;
    EXPECT_EQ(r.rebuilt, r.expected);
}

// Each scene has a journal of its own, found by its real path: a start on
// another scene leaves a crashed session's journal for its own scene's next
// start, however that scene is named.
TEST_F(Journal, EachSceneHasAJournalOfItsOwn)
{
    std::filesystem::create_directory("sub");
    SetJournalKept(true);
    std::vector<std::string> folders;
    for (const char* name : {"s.talvo", "t.talvo", "s.talvp", "sub/s.talvo", "S.talvo", "st.talvo", "ts.talvo"}) {
        WriteFileBytes(name, {});
        StartOnScene(name);
        folders.push_back(JournalFolder());
    }
    const std::string own = folders[0];
    ASSERT_FALSE(own.empty());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(std::unique(folders.begin(), folders.end()), folders.end()) << "two scenes share a journal";
    CrashedSession("1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n", 60);
    SetJournalKept(true);
    StartOnScene("t.talvo");
    StartOnScene("sub/../s.talvo");
    EXPECT_EQ(JournalFolder(), own);
    EXPECT_NE(JournalTakeNote().find("did not end cleanly"), std::string::npos) << "the session was lost";
}

// Straight walls, boxes, the keyboard's pen and frames one at a time come
// back exactly, a box cut off by the end included (it is not drawn).
TEST_F(Journal, ShapesTheKeyboardsPenAndSteppedFramesAreRebuiltExactly)
{
    const char* events = "1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n"
                         "10 lbuttondown 20 20 shift\n11 mousemove 30 30 shift\n12 lbuttonup 300 40 shift\n"
                         "15 lbuttondown 50 250 ctrl\n16 lbuttonup 200 330 ctrl\n"
                         "18 rbuttondown 60 260 ctrl shift\n19 rbuttonup 120 300 ctrl shift\n"
                         "22 key 39\n22 key 32\n23 key 39 shift\n23 key 40 shift\n24 keyup 32\n"
                         "25 key 46\n26 keyup 46\n30 char .\n32 char .\n33 command 42\n"
                         "34 lbuttondown 10 100 ctrl shift\n35 mousemove 100 200 ctrl shift\n";
    CrashedSession(events, 60);
    const Rebuilt r = Rebuild(events);
    ASSERT_NE(r.note.find("did not end cleanly"), std::string::npos) << r.note;
    EXPECT_EQ(r.rebuilt, r.expected);
}

// Standing at Stop, the journal writes what the input brought within the
// second, and then nothing however long the scene stands.
TEST_F(Journal, AtStopWithNoInputNothingIsWritten)
{
    SetJournalKept(true);
    StartOnScene();
    ScheduleEvents("1 command 40\n1 lbuttondown 100 200\n1 mousemove 160 210\n1 lbuttonup 160 210\n");
    PumpMessages();
    const uint64_t files = JournalFilesWritten();
    uint32_t now = TickCount();
    for (int step = 0; step < 600; ++step) {
        const uint32_t wait = JournalIdle();
        ASSERT_TRUE(wait <= 500 || JournalFilesWritten() == files + 1) << "the stroke waited past its flush";
        HeadlessSetTicks(now += 100);
    }
    EXPECT_EQ(JournalFilesWritten(), files + 1);
    EXPECT_EQ(JournalIdle(), PlatformForever);
    JournalReset();
    SetJournalKept(false);
}

TEST_F(Journal, AReplacedSceneFileGetsTheRebuiltSceneBesideIt)
{
    CrashedSession("1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n", 60);
    WriteFileText("s.talvo", "somebody else's file since");
    StartOnScene();
    EXPECT_NE(JournalTakeNote().find("s (recovered).talvo"), std::string::npos);
    EXPECT_EQ(ReadText("s.talvo"), "somebody else's file since");
    EXPECT_EQ(ReadFileBytes("s (recovered).talvo").size(), 200588u);
    EXPECT_STREQ(SceneFileName, "s (recovered).talvo");
}

TEST_F(Journal, WhatIsDamagedIsKeptAsideAndNeverStopsTheStart)
{
    CrashedSession("1 command 42\n5 lbuttondown 100 200\n6 mousemove 160 210\n7 lbuttonup 160 210\n", 60);
    std::string folder;
    for (const auto& entry : std::filesystem::directory_iterator(std::getenv("XDG_DATA_HOME") + std::string("/talvo/journal")))
        if (entry.is_directory()) folder = entry.path().string();
    ASSERT_FALSE(folder.empty());
    // Garbage where the first segment was: nothing of it can be used.
    WriteFileText(folder + "/00000000.seg", "this is no journal at all");
    const Bytes before = ReadFileBytes("s.talvo");
    StartOnScene();
    const std::string note = JournalTakeNote();
    EXPECT_NE(note.find("could not be used"), std::string::npos) << note;
    EXPECT_NE(note.find("kept aside"), std::string::npos) << note;
    EXPECT_TRUE(FileExists(folder + "/00000000.seg.damaged"));
    EXPECT_EQ(ReadFileBytes("s.talvo"), before);
}

TEST_F(Journal, ASecondProgramOnTheSceneWorksOnACopyOfItsOwn)
{
    WriteFileBytes("s.talvo", {});
    SetJournalKept(true);
    StartOnScene();
    SetJournalKept(false);
    // The first program holds the scene (its lock, as a lock file of ours).
    const std::string lock = JournalFolder().substr(0, JournalFolder().size() - 1) + ".lock";
    int64_t held = -1;
    JournalReset();
    ASSERT_EQ(FileLock(lock.c_str(), &held), FileDone);
    StartOnScene();
    EXPECT_STREQ(SceneFileName, "s (2).talvo");
    EXPECT_NE(JournalTakeNote().find("s.talvo is open in another Talvo window"), std::string::npos);
    FileUnlock(held);
}

TEST_F(Journal, UndoAndRedoTakeBackStrokesAndClearAndANewStrokeDropsWhatWasUndone)
{
    StartProgram();
    StartUp();
    // The input alone, no frames between: nothing else changes the scene.
    auto input = [](const char* events) {
        ScheduleEvents(events);
        PumpMessages();
    };
    for (int frame = 0; frame < 50; ++frame) RunFrame();
    const Bytes start = SceneNow();
    input("1 lbuttondown 100 100\n1 mousemove 150 100\n1 lbuttonup 150 100\n");
    const Bytes stroke = SceneNow();
    input("1 command 7\n");
    const Bytes cleared = SceneNow();
    ASSERT_EQ(HistoryUndoSteps(), 2u);
    input("1 char 26\n");
    EXPECT_EQ(SceneNow(), stroke);
    input("1 char 26\n1 char 26\n");
    EXPECT_EQ(SceneNow(), start) << "a second undo past the first stroke changes nothing";
    input("1 char 25\n1 char 25\n");
    EXPECT_EQ(SceneNow(), cleared);
    input("1 char 26\n1 rbuttondown 120 100\n1 mousemove 140 100\n1 rbuttonup 140 100\n");
    EXPECT_EQ(HistoryRedoSteps(), 0u);
    input("1 char 25\n");
    EXPECT_NE(SceneNow(), cleared) << "the new stroke dropped what was undone";
    // At least 50 strokes within 8 MB.
    for (int i = 0; i < 60; ++i) input("1 lbuttondown 100 300\n1 mousemove 110 300\n1 lbuttonup 110 300\n");
    EXPECT_GE(HistoryUndoSteps(), 50u);
    EXPECT_LE(HistoryBytes(), 8u << 20);
}

} // namespace
