// talvo-sim as a user runs it: the scene it leaves, the picture, the
// benchmark line and the handling of bad command lines.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/journal.h"
#include "files/scene_file.h"
#include "framework/file_system.h"
#include "talvo_version.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t Width = 336;
constexpr size_t FieldAt = 52, GrainsAt = 52 + 336 * 402; // six-colour scene
constexpr size_t NewSceneSize = 200588;

// Runs talvo-sim in the current directory; stdout and stderr go to files.
// A little-endian number.
uint32_t Get(const Bytes& b, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

// A six-colour scene file read back by the format.
struct Scene {
    Bytes b;
    int32_t Setting(size_t at) const { return static_cast<int16_t>(Get(b, at, 2)); }
    // Settings byte, grain count, SlotKind1, SlotKind2, Speed.
    std::vector<int32_t> Settings() const { return {b[15], Setting(20), Setting(22), Setting(24), Setting(26)}; }
    uint32_t Colour(size_t i) const { return Get(b, 28 + 4 * i, 4); }
    uint8_t Cell(int32_t x, int32_t y) const { return b[FieldAt + static_cast<size_t>(y * Width + x)]; }
    int32_t Kind(uint8_t kind) const
    {
        return static_cast<int32_t>(std::count_if(b.begin() + FieldAt, b.begin() + GrainsAt,
                                                  [&](uint8_t c) { return (c & 7) == kind; }));
    }
};

// Fails the current test (fatally) unless the file is a whole six-colour scene within the format's limits.
void ReadScene(const std::string& name, Scene* scene)
{
    const Bytes& b = scene->b = ReadFileBytes(name);
    ASSERT_GE(b.size(), 28u) << name;
    ASSERT_EQ(std::string(b.begin(), b.begin() + 13), "TALVO  V3.0  ");
    EXPECT_TRUE((b[15] & 15) <= 2 && b[15] >> 4 <= 2) << "settings byte " << int{b[15]};
    EXPECT_EQ(Get(b, 16, 4), 336u | 402u << 16);
    const int32_t count = scene->Setting(20);
    ASSERT_TRUE(count >= 0 && count <= 16800) << count;
    ASSERT_EQ(b.size(), GrainsAt + 4 * static_cast<size_t>(count)) << name;
    for (size_t at = GrainsAt; at < b.size(); at += 4)
        ASSERT_TRUE(Get(b, at, 4) >= 336 && Get(b, at, 4) <= 134735) << "grain at " << at;
}

TEST(SimCli, NewSceneAfterOneAndTenFrames)
{
    const struct {
        int frames;
        int32_t kinds[4]; // cells of kinds 2 to 5
        int32_t distinct; // distinct grain positions, 0 when not checked
    } cases[] = {{1, {504, 169, 505, 171}, 16333}, {10, {5177, 1739, 5188, 1724}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        TempDir dir;
        ASSERT_EQ(RunSim("--frames " + std::to_string(c.frames) + " --seed 7 x.talvo"), 0) << ReadText("sim.err");
        Scene scene;
        ReadScene("x.talvo", &scene);
        if (HasFatalFailure()) return;
        EXPECT_EQ(scene.b.size(), NewSceneSize);
        EXPECT_EQ(std::string(scene.b.begin(), scene.b.begin() + 15), "TALVO  V3.0    ");
        // Start settings: Normal pen, Big eraser, 16366 grains, Boiling / Normal sand, No wait.
        EXPECT_EQ(scene.Settings(), (std::vector<int32_t>{0x21, 16366, 3, 0, 4}));
        const uint32_t colours[6] = {0x000000, 0x40A0C8, 0xDCF000, 0xC8A000, 0x0000FF, 0x0000A0};
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(scene.Colour(i), colours[i]) << "colour " << i;
        for (uint8_t kind = 2; kind <= 5; ++kind) EXPECT_EQ(scene.Kind(kind), c.kinds[kind - 2]) << "kind " << +kind;
        if (c.distinct) {
            std::vector<uint32_t> p;
            for (size_t at = GrainsAt; at < scene.b.size(); at += 4) p.push_back(Get(scene.b, at, 4));
            std::sort(p.begin(), p.end());
            EXPECT_EQ(std::unique(p.begin(), p.end()) - p.begin(), c.distinct);
        }
        // The gate line is still closed and the frame whole.
        for (int32_t x = 0; x < Width; ++x)
            EXPECT_TRUE(scene.Cell(x, 59) == 1 && scene.Cell(x, 0) == 1 && scene.Cell(x, 401) == 1) << "x " << x;
        EXPECT_FALSE(FileExists("Default.talvo"));
        EXPECT_FALSE(FileExists("~talvo.save"));
    }
}

TEST(SimCli, SameSeedGivesTheSameScene)
{
    TempDir dir;
    // Frame 11 opens the first gap, whose width is the first random draw.
    for (const char* run : {"--frames 11 --seed 7 a.talvo", "--frames 11 --seed 7 b.talvo",
                            "--frames 60 --seed 7 c.talvo", "--frames 60 --seed 7 d.talvo"})
        ASSERT_EQ(RunSim(run), 0) << run << ReadText("sim.err");
    EXPECT_TRUE(ReadFileBytes("a.talvo") == ReadFileBytes("b.talvo"));
    EXPECT_TRUE(ReadFileBytes("c.talvo") == ReadFileBytes("d.talvo"));
    Scene scene;
    ReadScene("a.talvo", &scene);
    if (HasFatalFailure()) return;
    int32_t gap = 0;
    while (82 + gap < Width && scene.Cell(82 + gap, 59) == 0) ++gap;
    EXPECT_TRUE(gap >= 3 && gap <= 9) << "gap " << gap;
    for (int32_t x = 0; x < Width; ++x)
        EXPECT_TRUE((x >= 82 && x < 82 + gap) || scene.Cell(x, 59) == 1) << "gate x " << x;
}

TEST(SimCli, SecondRunContinuesTheSavedScene)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 1 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    Bytes first = ReadFileBytes("x.talvo");
    ASSERT_EQ(first.size(), NewSceneSize);
    // Marks only a loaded scene can carry: Thick pen and Small eraser, "Fast",
    // "Magical sand" for slot 2, and a wall block low in the field.
    first[15] = 0x02;
    first[26] = 3;
    first[24] = 4;
    for (int32_t y = 300; y < 303; ++y)
        for (int32_t x = 100; x < 103; ++x) first[FieldAt + static_cast<size_t>(y * Width + x)] = 1;
    WriteFileBytes("x.talvo", first);

    Scene second, third;
    ASSERT_EQ(RunSim("--frames 1 --seed 7 x.talvo"), 0) << ReadText("sim.err");
    ReadScene("x.talvo", &second);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(second.b == first) << "the grains did not move on";
    EXPECT_EQ(second.Settings(), (std::vector<int32_t>{0x02, 16366, 3, 4, 3}));
    for (int32_t y = 300; y < 303; ++y)
        for (int32_t x = 100; x < 103; ++x) EXPECT_EQ(second.Cell(x, y), 1) << x << "," << y;

    // And once more from there: it goes on changing and stays a scene.
    ASSERT_EQ(RunSim("--frames 3 x.talvo"), 0) << ReadText("sim.err");
    ReadScene("x.talvo", &third);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(third.b == second.b);
    EXPECT_EQ(third.Settings(), second.Settings());
}

TEST(SimCli, PngShowsTheFieldThroughThePalette)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 1 --png p.png x.talvo"), 0) << ReadText("sim.err");
    const Bytes png = ReadFileBytes("p.png");
    ASSERT_GE(png.size(), 8u + 25u + 12u);
    // Signature, then IHDR: 336 x 402, 8-bit indexed, not interlaced.
    const Bytes head = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                        0,    0,   1,   0x50, 0,  0,  1,    0x92, 8, 3, 0, 0, 0};
    ASSERT_TRUE(std::equal(head.begin(), head.end(), png.begin()));
    // The file ends with the IEND chunk and its fixed checksum.
    const Bytes end = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    EXPECT_TRUE(std::equal(end.begin(), end.end(), png.end() - 12));

    // libpng checks the chunks' checksums; every pixel is its cell's palette colour.
    Scene scene;
    ReadScene("x.talvo", &scene);
    if (HasFatalFailure()) return;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, "p.png"));
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    int32_t wrong = 0;
    for (size_t i = 0; i < GrainsAt - FieldAt; ++i) {
        const uint8_t cell = scene.b[FieldAt + i];
        const uint32_t colour = scene.Colour(cell % 6);
        wrong += cell >= 6 || rgb[3 * i] != (colour & 0xFF) || rgb[3 * i + 1] != ((colour >> 8) & 0xFF) ||
                 rgb[3 * i + 2] != ((colour >> 16) & 0xFF);
    }
    EXPECT_EQ(wrong, 0);
    // Spot values: the frame in the wall colour, an empty cell black.
    EXPECT_EQ(Bytes(rgb.begin(), rgb.begin() + 3), (Bytes{200, 160, 64}));
    const size_t empty = 3 * static_cast<size_t>(200 * Width + 100);
    EXPECT_EQ(rgb[empty] + rgb[empty + 1] + rgb[empty + 2], 0);
}

TEST(SimCli, BenchPrintsOneSummaryLine)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 5 --bench x.talvo"), 0) << ReadText("sim.err");
    std::istringstream out(ReadText("sim.out"));
    std::string line, last;
    while (std::getline(out, line))
        if (!line.empty()) last = line;
    unsigned frames = 0, grains = 0;
    double stepNs = 0, frameUs = 0, fps = 0;
    char extra = 0;
    ASSERT_EQ(std::sscanf(last.c_str(), "bench: frames=%u grains=%u step_ns_per_grain=%lf frame_us=%lf fps=%lf%c",
                          &frames, &grains, &stepNs, &frameUs, &fps, &extra),
              5)
        << last;
    EXPECT_EQ(frames, 5u);
    EXPECT_EQ(grains, 16366u);
    EXPECT_GT(frameUs, 0.0);
    EXPECT_GT(stepNs, 0.0);
    // Frames per second and the frame time describe the same frames.
    EXPECT_NEAR(fps * frameUs, 1e6, 1e6 * 0.01);
    EXPECT_TRUE(FileExists("x.talvo"));
}

TEST(SimCli, BadCommandLinesAreRefused)
{
    for (const char* args : {"--bogus x.talvo", "--frames 0 x.talvo", "--frames abc x.talvo", "--frames -3 x.talvo",
                             "--frames 12x x.talvo", "--seed -1 x.talvo", "--seed ten x.talvo", "x.talvo --frames",
                             "x.talvo --seed", "x.talvo --png", "-q x.talvo"}) {
        SCOPED_TRACE(args);
        TempDir dir;
        const int code = RunSim(args);
        EXPECT_TRUE(code > 0) << "exit code " << code;
        EXPECT_FALSE(ReadText("sim.err").empty());
        EXPECT_FALSE(FileExists("x.talvo"));
        EXPECT_FALSE(FileExists("Default.talvo"));
    }
}

TEST(SimCli, VersionIsPrintedAndNothingRuns)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--version x.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadText("sim.out"), std::string("talvo-sim ") + TALVO_VERSION + "\n");
    EXPECT_FALSE(FileExists("x.talvo"));
}

TEST(SimCli, TwoSceneArgumentsAreIgnored)
{
    TempDir dir;
    // A scene with a mark of its own, which must not be loaded or touched.
    ASSERT_EQ(RunSim("--frames 1 a.talvo"), 0) << ReadText("sim.err");
    Bytes a = ReadFileBytes("a.talvo");
    ASSERT_EQ(a.size(), NewSceneSize);
    a[24] = 2;
    WriteFileBytes("a.talvo", a);

    ASSERT_EQ(RunSim("--frames 1 --seed 7 a.talvo b.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(ReadFileBytes("a.talvo") == a);
    EXPECT_FALSE(FileExists("b.talvo"));
    Scene scene;
    ReadScene("Default.talvo", &scene);
    if (HasFatalFailure()) return;
    // A new scene's first frame, not a's.
    EXPECT_EQ(scene.Setting(24), 0);
    EXPECT_EQ(scene.Kind(2), 504);
    EXPECT_EQ(scene.Kind(5), 171);
}

TEST(SimCli, FileThatIsNotASceneIsLeftAlone)
{
    TempDir dir;
    const std::string notes = "shopping list\nmilk\nsand\n";
    WriteFileText("notes", notes);
    ASSERT_EQ(RunSim("--frames 3 notes"), 1) << ReadText("sim.err");
    EXPECT_EQ(ReadText("notes"), notes);
    EXPECT_FALSE(FileExists("Default.talvo"));
    ASSERT_EQ(dir.Rescued().size(), 1u);
    EXPECT_EQ(ReadText("sim.err"), "Talvo: The scene could not be saved to \"notes\": it is not a scene file. It was saved to \"" +
                                       dir.Rescued()[0] + "\" instead.\n");
}

} // namespace

namespace {

// A session kept by a real-time run replays to the scene it saved; a journal
// cut short replays its good part and says where it ends; what is no journal
// of this program (garbage, another version, no folder) is refused and
// nothing is written.
TEST(SimCli, ReplayGivesTheSceneOfTheSessionAndRefusesWhatIsNoJournal)
{
    TempDir dir;
    WriteFileText("events.txt", "2 lbuttondown 30 300\n3 mousemove 300 310\n4 lbuttonup 300 310\n5 command 7\n"
                                "6 char 26\n8 command 53\n");
    ASSERT_EQ(RunSim("--real-time --frames 40 --seed 4 --events events.txt run.talvo"), 0) << ReadText("sim.err");
    std::string journal;
    for (const auto& entry : std::filesystem::directory_iterator(std::getenv("XDG_DATA_HOME") + std::string("/talvo/journal")))
        if (entry.is_directory()) journal = entry.path().string();
    ASSERT_FALSE(journal.empty());
    ASSERT_EQ(RunSim("--replay " + journal + " again.talvo"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("again.talvo"), ReadFileBytes("run.talvo"));

    // The last segment cut in its middle: the part before replays.
    std::vector<std::filesystem::path> segments;
    for (const auto& entry : std::filesystem::directory_iterator(journal)) segments.push_back(entry.path());
    std::sort(segments.begin(), segments.end());
    std::vector<uint8_t> last = ReadFileBytes(segments.back().string());
    last.resize(last.size() / 2);
    WriteFileBytes(segments.back().string(), last);
    ASSERT_EQ(RunSim("--replay " + journal + " cut.talvo"), 0) << ReadText("sim.err");
    EXPECT_NE(ReadText("sim.err").find("the journal ends at frame"), std::string::npos) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("cut.talvo").size(), 200588u);

    std::filesystem::create_directory("garbage");
    WriteFileText("garbage/00000000.seg", "PK\x03\x04 not a journal");
    std::filesystem::create_directory("later");
    WriteFileText("later/00000000.seg", "TALVO journal 9\nwhatever it holds");
    for (const std::string& bad : {std::string("garbage"), std::string("later"), std::string("nowhere"), journal + "/.."}) {
        EXPECT_EQ(RunSim("--replay " + bad + " --gif x.gif x.talvo"), 2) << bad;
        EXPECT_FALSE(FileExists("x.talvo") || FileExists("x.gif")) << bad;
    }
    EXPECT_NE(ReadText("sim.err").find("not a journal"), std::string::npos);
    EXPECT_EQ(RunSim("--replay later x.talvo"), 2);
    EXPECT_NE(ReadText("sim.err").find("another version"), std::string::npos);
}

} // namespace

namespace {

// Without a scene named, a replay writes none (the user's Default.talvo
// stays as it is); a scene named for the journal finds its journal as the
// program does, through links; onto a scene another program has open, it
// goes to a copy and says so.
TEST(SimCli, AReplayWritesOnlyTheSceneNamedAndFindsAJournalByItsScene)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--real-time --frames 30 --seed 4 garden.talvo"), 0) << ReadText("sim.err");
    ASSERT_EQ(RunSim("--frames 3 --seed 1 Default.talvo"), 0) << ReadText("sim.err");
    const Bytes mine = ReadFileBytes("Default.talvo"), garden = ReadFileBytes("garden.talvo");
    std::filesystem::create_symlink("garden.talvo", "link.talvo");
    ASSERT_EQ(RunSim("--replay link.talvo --gif out.gif"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadFileBytes("Default.talvo"), mine);
    EXPECT_TRUE(FileExists("out.gif"));
    EXPECT_TRUE(dir.Rescued().empty());
    const std::string journal = JournalFolderOf("garden.talvo");
    int64_t held = -1;
    ASSERT_EQ(FileLock((journal.substr(0, journal.size() - 1) + ".lock").c_str(), &held), FileDone);
    ASSERT_EQ(RunSim("--replay " + journal + " garden.talvo"), 0) << ReadText("sim.err");
    FileUnlock(held);
    EXPECT_EQ(ReadFileBytes("garden.talvo"), garden);
    EXPECT_EQ(ReadFileBytes("garden (2).talvo"), garden);
    EXPECT_NE(ReadText("sim.err").find("garden.talvo is open in another Talvo window"), std::string::npos);
    EXPECT_EQ(RunSim("--replay Default.talvo again.talvo"), 2);
    EXPECT_NE(ReadText("sim.err").find("no journal of the scene Default.talvo"), std::string::npos);
    EXPECT_FALSE(FileExists("again.talvo"));
}

// A picture or animation that cannot be written fails the run, replay or
// not; the scene is saved all the same.
TEST(SimCli, APictureThatCannotBeWrittenFailsTheRun)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--real-time --frames 5 --seed 4 garden.talvo"), 0) << ReadText("sim.err");
    for (const std::string run : {"--frames 3 --png", "--frames 3 --gif", "--replay garden.talvo --png"}) {
        std::filesystem::remove("x.talvo");
        EXPECT_EQ(RunSim(run + " nowhere/p x.talvo"), 1) << run;
        EXPECT_EQ(ReadText("sim.err"), "talvo-sim: cannot write nowhere/p: No such file or directory\n");
        EXPECT_TRUE(FileExists("x.talvo")) << run;
    }
}

// Options that would do nothing in the mode chosen: refused with the usage.
TEST(SimCli, OptionsThatDoNothingInTheModeChosenAreRefused)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--real-time --frames 5 --seed 4 garden.talvo"), 0) << ReadText("sim.err");
    WriteFileText("events.txt", "1 close\n");
    for (const std::string options : {"--frames 10", "--seed 3", "--real-time", "--no-journal", "--events events.txt",
                                      "y.talvo"}) {
        EXPECT_EQ(RunSim("--replay garden.talvo " + options + " x.talvo"), 2) << options;
        EXPECT_NE(ReadText("sim.err").find("\nusage: talvo-sim"), std::string::npos) << options;
    }
    for (const char* options : {"--no-journal", "--gif-every 2", "--gif-frames 0:"})
        EXPECT_EQ(RunSim(std::string(options) + " x.talvo"), 2) << options;
    EXPECT_FALSE(FileExists("x.talvo") || FileExists("y.talvo") || FileExists("Default.talvo"));
}

TEST(SimCli, ASceneWhoseNameBeginsWithADashIsNamedAfterTheEndOfOptions)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--frames 2 -- -x.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(FileExists("-x.talvo"));
    ASSERT_EQ(RunSim("--frames 2 ./-y.talvo"), 0) << ReadText("sim.err");
    EXPECT_TRUE(FileExists("-y.talvo"));
    EXPECT_EQ(RunSim("--frames 2 -z.talvo"), 2);
    EXPECT_NE(ReadText("sim.err").find("unknown option \"-z.talvo\""), std::string::npos) << ReadText("sim.err");
    // The desktop program's own option is not talvo-sim's.
    EXPECT_EQ(RunSim("--data-home x.talvo"), 2);
    EXPECT_FALSE(FileExists("-z.talvo") || FileExists("x.talvo") || FileExists("Default.talvo"));
}

#ifdef TALVO_DESKTOP_PATH
// The desktop program's command line is answered or refused before it
// looks for a display: none is given here.
int RunDesktop(const std::string& args)
{
    const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY timeout -k 5 60 '") + TALVO_DESKTOP_PATH +
                                "' " + args + " >sim.out 2>sim.err </dev/null";
    const int status = std::system(command.c_str());
    return status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

// What the folder holds besides the runs' output.
std::vector<std::string> Written(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "sim.out" && name != "sim.err") names.push_back(name);
    }
    return names;
}

TEST(DesktopCli, VersionHelpAndABadCommandLineNeedNoDisplayAndWriteNothing)
{
    TempDir dir;
    ASSERT_EQ(RunDesktop("--version"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadText("sim.out"), std::string("talvo ") + TALVO_VERSION + "\n");
    ASSERT_EQ(RunDesktop("x.talvo --help"), 0) << ReadText("sim.err");
    EXPECT_EQ(ReadText("sim.out").rfind("usage: talvo [--data-home]", 0), 0u) << ReadText("sim.out");
    EXPECT_NE(ReadText("sim.out").find("\n  --data-home "), std::string::npos);
    for (const char* args : {"--bogus", "x.talvo --bogus", "-x", "--data-home --verison", "--display"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(RunDesktop(args), 2);
        const std::string err = ReadText("sim.err");
        EXPECT_NE(err.find("talvo: unknown option"), std::string::npos) << err;
        EXPECT_NE(err.find("\nusage: talvo "), std::string::npos) << err;
        EXPECT_TRUE(ReadText("sim.out").empty());
    }
    // A good command line goes on to look for the display, and says there is none.
    for (const char* args : {"x.talvo", "-- -x.talvo", "./-x.talvo"}) {
        EXPECT_EQ(RunDesktop(args), 3) << args;
        EXPECT_NE(ReadText("sim.err").find("no display"), std::string::npos) << args;
    }
    EXPECT_EQ(Written(dir), std::vector<std::string>{});
}
#endif

// --help describes each option the usage names and the events, and so does
// the manual page.
TEST(SimCli, HelpAndTheManualPageDescribeEveryOptionAndTheEventsFile)
{
    TempDir dir;
    ASSERT_EQ(RunSim("--help"), 0);
    const std::string help = ReadText("sim.out"), usage = help.substr(0, help.find("\n\n"));
    std::string man; // as a reader sees it
    for (const char c : ReadText(TALVO_SIM_MAN_PAGE))
        if (c != '\\') man += c;
    for (size_t at = usage.find("--"); at != std::string::npos; at = usage.find("--", at + 2)) {
        const std::string option = usage.substr(at, usage.find_first_of(" ]|\n", at) - at);
        EXPECT_TRUE(help.find("\n  " + option + " ") != std::string::npos || help.find("\n  " + option + ",") != std::string::npos)
            << option;
        EXPECT_NE(man.find(option), std::string::npos) << option << " not in the manual page";
    }
    for (const char* word : {"(1000", "lbuttondown", "rbuttonup", "mousemove", "command", "drop", "key", "keyup", "char",
                             "close", "shift", "ctrl", "keyboard",
                             "does nothing in the mode"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
        EXPECT_NE(man.find(word), std::string::npos) << word << " not in the manual page";
    }
}

} // namespace

namespace {

// The menu as --menu prints it: "[x] 21 Normal", "Pen >".
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// In every language of the catalogues the menu has the same items, ids and
// marks, its texts translated, and a message is in that language; the scene
// saved after the same input is the English one byte for byte. A language
// without texts is refused.
TEST(SimCli, ALanguageChangesTheTextsAndNeverTheScene)
{
    TempDir dir;
    WriteFileText("events.txt", "2 lbuttondown 30 300\n3 mousemove 300 310\n4 lbuttonup 300 310\n5 command 32\n"
                                "6 command 53\n7 rbuttondown 100 305\n8 rbuttonup 120 305\n");
    ASSERT_EQ(RunSim("--frames 30 --seed 4 --events events.txt --menu en.talvo"), 0) << ReadText("sim.err");
    const std::vector<std::string> english = Lines(ReadText("sim.out"));
    const Bytes scene = ReadFileBytes("en.talvo");
    const std::string tooLong(SceneFileNameSize + 10, 'n');
    const struct {
        const char* language;
        const char* pen;
        const char* tooLong;
    } cases[] = {{"de", "Stift >", "ist länger als"}, {"fr", "Crayon >", "dépasse les"}, {"es", "Lápiz >", "supera los"},
                 {"ja", "ペン >", "を超えています"}, {"zh_CN", "画笔 >", "超过了"}};
    for (const auto& c : cases) {
        const std::string name = std::string(c.language) + ".talvo";
        ASSERT_EQ(RunSim("--frames 30 --seed 4 --events events.txt --menu --language " + std::string(c.language) + " " +
                         name),
                  0)
            << c.language << ReadText("sim.err");
        EXPECT_EQ(ReadFileBytes(name), scene) << c.language;
        const std::vector<std::string> shown = Lines(ReadText("sim.out"));
        ASSERT_EQ(shown.size(), english.size()) << c.language;
        size_t translated = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            // The marks and ids, all but the text.
            const auto head = [](const std::string& line) {
                const size_t open = line.find('[');
                return open == std::string::npos ? line.substr(0, line.find_first_not_of(' '))
                                                 : line.substr(0, line.find(' ', line.find(']') + 2));
            };
            EXPECT_EQ(head(shown[i]), head(english[i])) << c.language << ": " << shown[i];
            translated += shown[i] != english[i];
        }
        // The program's items, all but Normal (German, Spanish) and the name.
        EXPECT_GE(translated, 22u) << c.language;
        EXPECT_NE(std::find(shown.begin(), shown.end(), c.pen), shown.end()) << c.language;
        EXPECT_EQ(RunSim("--frames 1 --language " + std::string(c.language) + " " + tooLong), 1) << c.language;
        EXPECT_NE(ReadText("sim.err").find(c.tooLong), std::string::npos) << ReadText("sim.err");
    }
    EXPECT_EQ(RunSim("--frames 1 --language it x.talvo"), 2);
    EXPECT_EQ(RunSim("--frames 1 --language en x.talvo"), 0);
}

} // namespace
