// What the player saves by hand, and what they are offered when a save has
// nowhere else to go: pictures and animations under names of their moment
// that overwrite nothing, the animation made with its progress shown and
// stopped by a Cancel, the program going on where it was; a scene that
// cannot be saved or rescued offered as a file before it is given up.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <regex>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "app/standard_random.h"
#include "files/scene_file.h"
#include "framework/headless/headless.h"
#include "framework/platform.h"
#include "framework/pump.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/particles.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Everything later frames depend on, as bytes.
Bytes StateNow()
{
    size_t size = 0;
    const uint8_t* bytes = EncodedScene(&size);
    Bytes state(bytes, bytes + size);
    for (uint32_t v : {StepRandom.s1, StepRandom.s2, StandardRandomState()})
        for (int i = 0; i < 4; ++i) state.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return state;
}

std::vector<std::string> FilesHere()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each frame of the GIF as the screen shows it: palette indices put through
// that frame's colours, over what the frames before left.
std::vector<Bytes> GifScreens(const std::string& name)
{
    int error = 0;
    GifFileType* file = DGifOpenFileName(name.c_str(), &error);
    EXPECT_TRUE(file) << GifErrorString(error);
    if (!file) return {};
    EXPECT_EQ(DGifSlurp(file), GIF_OK);
    std::vector<Bytes> screens;
    Bytes screen(static_cast<size_t>(file->SWidth) * file->SHeight * 3, 0);
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : file->SColorMap;
        GraphicsControlBlock control{};
        DGifSavedExtensionToGCB(file, i, &control);
        for (int y = 0; y < image.ImageDesc.Height; ++y)
            for (int x = 0; x < image.ImageDesc.Width; ++x) {
                const int index = image.RasterBits[y * image.ImageDesc.Width + x];
                if (index == control.TransparentColor) continue;
                const size_t at = 3 * (static_cast<size_t>(image.ImageDesc.Top + y) * file->SWidth + image.ImageDesc.Left + x);
                screen[at] = map->Colors[index].Red;
                screen[at + 1] = map->Colors[index].Green;
                screen[at + 2] = map->Colors[index].Blue;
            }
        screens.push_back(screen);
    }
    DGifCloseFile(file, &error);
    return screens;
}

Bytes WindowRgb()
{
    Bytes rgb(static_cast<size_t>(FieldSize) * 3);
    HeadlessSurfaceRgb(rgb.data());
    return rgb;
}

const std::regex NameOfAMoment("Talvo \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d( \\(\\d+\\))?\\.(png|gif)");

// Strokes across the pour at Normal speed: some seconds of play.
const char* Play = "1 command 42\n20 lbuttondown 40 200\n21 mousemove 170 210\n22 mousemove 300 200\n23 lbuttonup 300 200\n"
                   "60 rbuttondown 100 205\n61 mousemove 200 205\n62 rbuttonup 200 205\n";

TEST(AnimationOfTheLastMinute, IsWrittenAsItIsMadeAndThePlayGoesOnWhereItWas)
{
    TempDir dir;
    KeptJournal journal;
    StartOn("s.talvo");
    ScheduleEvents(Play);
    for (int frame = 0; frame < 150; ++frame) RunFrame();
    const Bytes before = StateNow();
    const Bytes shown = WindowRgb();
    ScheduleEvents("1 char 103\n");
    PumpMessages();
    EXPECT_EQ(StateNow(), before) << "the replay's state was left in force";
    EXPECT_EQ(HeadlessErrorCount(), 0) << HeadlessLastError();
    ASSERT_EQ(HeadlessSavedFiles().size(), 1u);
    const std::string name = HeadlessSavedFiles()[0];
    EXPECT_TRUE(std::regex_match(name, NameOfAMoment)) << name;
    const std::vector<Bytes> screens = GifScreens(name);
    ASSERT_GT(screens.size(), 50u) << "fewer frames than the window showed";
    EXPECT_TRUE(screens.back() == shown) << "the last frame is not the field as shown";
    // Its progress showed from the start and went once the file was whole.
    const std::vector<int32_t>& progress = HeadlessProgressShown();
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), -1);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
    EXPECT_EQ(FilesHere(), std::vector<std::string>{name}) << "a part of the animation was left";
    // The play goes on, and a second animation does not replace the first.
    for (int frame = 0; frame < 10; ++frame) RunFrame();
    ScheduleEvents("1 char 71\n");
    PumpMessages();
    ASSERT_EQ(HeadlessSavedFiles().size(), 2u);
    EXPECT_NE(HeadlessSavedFiles()[1], name);
    EXPECT_TRUE(std::regex_match(HeadlessSavedFiles()[1], NameOfAMoment)) << HeadlessSavedFiles()[1];
    EXPECT_EQ(GifScreens(name), screens) << "the first animation was written over";
}

TEST(AnimationOfTheLastMinute, EscapeOrCancelStopsItAndLeavesNoFile)
{
    TempDir dir;
    KeptJournal journal;
    StartOn("s.talvo");
    ScheduleEvents(Play);
    for (int frame = 0; frame < 150; ++frame) RunFrame();
    const Bytes before = StateNow();
    // Escape, or the progress's Cancel (WmCommand IdCancel), while the work
    // runs: come behind G in the queue, taken by the work's own pumps.
    for (const uint32_t message : {WmKeyDown, WmCommand}) {
        SCOPED_TRACE(message);
        ScheduleEvents("1 char 103\n");
        const uint32_t wParam = message == WmKeyDown ? VkEscape : IdCancel;
        HeadlessSchedule(HeadlessEvent{HeadlessFrame() + 1, HeadlessEvent::Post, message, wParam, 0, ""});
        PumpMessages();
        EXPECT_EQ(StateNow(), before);
        EXPECT_TRUE(HeadlessSavedFiles().empty());
        EXPECT_EQ(HeadlessErrorCount(), 0) << HeadlessLastError();
        ASSERT_FALSE(HeadlessProgressShown().empty());
        EXPECT_EQ(HeadlessProgressShown().back(), -1);
        EXPECT_TRUE(FilesHere().empty()) << "a part of the animation was left";
    }
}

TEST(PictureOfTheField, EachTakesANameOfItsMomentAndNoneReplacesAnother)
{
    TempDir dir;
    StartOn("s.talvo");
    for (int frame = 0; frame < 20; ++frame) RunFrame();
    ScheduleEvents("1 char 112\n1 char 80\n1 char 112\n");
    PumpMessages();
    const std::vector<std::string>& saved = HeadlessSavedFiles();
    ASSERT_EQ(saved.size(), 3u);
    for (const std::string& name : saved) EXPECT_TRUE(std::regex_match(name, NameOfAMoment)) << name;
    EXPECT_EQ(std::set<std::string>(saved.begin(), saved.end()).size(), 3u);
    for (const std::string& name : saved) EXPECT_TRUE(FileExists(name)) << name;
}

// The scene's file cannot be written and there is no data folder to rescue
// it to: the box says so and the scene is offered as a file; where that
// fails too, the program ends with a failure.
TEST(SceneWithNowhereToGo, IsOfferedAsAFileBeforeItIsGivenUp)
{
    TempDir dir;
    setenv("XDG_DATA_HOME", "/dev/null/none", 1);
    std::filesystem::create_directory("locked");
    StartOn("locked/s.talvo");
    for (int frame = 0; frame < 20; ++frame) RunFrame();
    ASSERT_EQ(SaveSceneAndTell(), 1);
    chmod("locked/s.talvo", 0444);
    const Bytes old = ReadFileBytes("locked/s.talvo");
    for (int frame = 0; frame < 20; ++frame) RunFrame();
    size_t size = 0;
    const uint8_t* encoded = EncodedScene(&size);
    const Bytes now(encoded, encoded + size);
    EXPECT_EQ(SaveSceneAndTell(), 0);
    ASSERT_EQ(HeadlessErrorCount(), 1);
    EXPECT_NE(HeadlessLastError().find("There is no data folder to rescue it to: choose where to save it."),
              std::string::npos)
        << HeadlessLastError();
    EXPECT_EQ(HeadlessSavedFiles(), std::vector<std::string>{"s.talvo"});
    EXPECT_TRUE(ReadFileBytes("s.talvo") == now) << "the offered file is not the scene";
    EXPECT_TRUE(ReadFileBytes("locked/s.talvo") == old);

    // Past the file-size limit the offered file fails as well: told, and
    // the window's end is a failure.
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    OnClose(MainWindow, WmClose, 0, 0);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_NE(HeadlessLastError().find("could not be saved: File too large"), std::string::npos) << HeadlessLastError();
    PlatformMessage message{};
    uint32_t code = 0;
    bool quit = false;
    while (!quit && PlatformNextMessage(&message)) {
        quit = message.message == WmQuit;
        code = message.wParam;
    }
    ASSERT_TRUE(quit);
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(ReadFileBytes("locked/s.talvo") == old);
    EXPECT_EQ(FilesHere(), (std::vector<std::string>{"locked", "s.talvo"})) << "a part of a file was left";
}

} // namespace
