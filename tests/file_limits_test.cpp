// Files longer than any the program reads: a scene, a start-up script, a
// background. Each is refused before it is read whole, and nothing changes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_routine.h"
#include "app/scene_handlers.h"
#include "files/init_script.h"
#include "files/scene_file.h"
#include "files/side_files.h"
#include "framework/palette_builder.h"
#include "framework/window_menu.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "sim/particles.h"
#include "test_support.h"
#include "ui/menu.h"
#include "ui/settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What this process has read from files so far (Linux's count of it).
uint64_t BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

// The file with zeros after its bytes up to `size` (a sparse tail: quick to make).
void WriteLong(const std::string& name, const Bytes& bytes, uint64_t size)
{
    WriteFileBytes(name, bytes);
    std::filesystem::resize_file(name, size);
}

// What a load or a new scene can change, and how much of the disk it took to do it.
struct Outcome {
    int32_t result;
    Bytes state;
    uint64_t read;
};

Bytes StateNow()
{
    size_t size = 0;
    const uint8_t* scene = EncodedScene(&size);
    Bytes state(scene, scene + size);
    state.insert(state.end(), &SurfaceColours[0][0], &SurfaceColours[0][0] + 256 * 4);
    for (uint32_t id = 20; id < 65; ++id) state.push_back(static_cast<uint8_t>(MenuChecked(id)));
    return state;
}

template <typename Step>
Outcome Measure(Step step)
{
    const uint64_t before = BytesRead();
    const int32_t result = step();
    const uint64_t read = BytesRead() - before;
    return {result, StateNow(), read};
}

void StartWithNewScene()
{
    StartProgram();
    SetDefaultSettings();
    BuildSystemMenu();
    BuildBasePalette();
    NewScene();
}

TEST(FileLimits, AFileLongerThanAnySceneIsRefusedUnreadAndKeptAsideAtTheSave)
{
    TempDir dir;
    ASSERT_GT(BytesRead(), 0u) << "no count of the bytes read here";
    StartWithNewScene();
    Speed = 1; // a scene of its own, not the new one
    size_t size = 0;
    const uint8_t* encoded = EncodedScene(&size);
    const Bytes scene(encoded, encoded + size);

    // Up to the largest scene's length a tail is read and left unused, as ever.
    StartWithNewScene();
    WriteLong("Default.talvo", scene, SceneMaxSize);
    EXPECT_EQ(LoadScene(), 1);
    EXPECT_EQ(Speed, 1);

    for (const uint64_t length : {uint64_t{SceneMaxSize} + 1, uint64_t{50} << 20}) {
        SCOPED_TRACE(length);
        StartWithNewScene();
        const Bytes before = StateNow();
        WriteLong("Default.talvo", scene, length);
        const Outcome load = Measure(LoadScene);
        EXPECT_EQ(load.result, 0);
        EXPECT_TRUE(load.state == before) << "the scene in force changed";
        EXPECT_LT(load.read, 65536u) << "the file was read";
        // Still the user's file: moved aside whole by the next save.
        ASSERT_EQ(SaveSceneAndTell(), 1);
        EXPECT_EQ(std::filesystem::file_size("Default.talvo.damaged"), length);
        EXPECT_EQ(ReadFileBytes("Default.talvo"), Bytes(before.begin(), before.begin() + static_cast<long>(size)));
        std::filesystem::remove("Default.talvo.damaged");
    }
}

TEST(FileLimits, AStartUpScriptOrBackgroundOverTheLimitIsSkippedUnread)
{
    TempDir dir;
    const std::string script = "BGCOLOR 10 20 30\nFILLBOX 100 100 200 200 1\n";
    std::string pal = "one\ntwo\nthree\n";
    for (int shade = 0; shade < 32; ++shade) pal += std::to_string(8 * shade) + " 7 " + std::to_string(255 - shade) + "\n";
    const Bytes raw(FieldSize, 17);
    const auto newScene = [] {
        StartWithNewScene();
        return Measure([] {
            NewScene();
            return 0;
        });
    };
    const Bytes plain = newScene().state;

    for (const std::string longer : {"init.txt", "bg.raw", "bg.pal"}) {
        SCOPED_TRACE(longer);
        for (const char* name : {"init.txt", "bg.raw", "bg.pal"}) std::filesystem::remove(name);
        const bool isScript = longer == "init.txt";
        const auto write = [&](uint64_t length) {
            if (isScript) {
                WriteLong("init.txt", Bytes(script.begin(), script.end()), length);
                return;
            }
            WriteLong("bg.raw", raw, longer == "bg.raw" ? length : raw.size());
            WriteLong("bg.pal", Bytes(pal.begin(), pal.end()), longer == "bg.pal" ? length : pal.size());
        };
        // At the limit the file is used, the tail left unused.
        write(SideFileLimit);
        const Outcome used = newScene();
        EXPECT_FALSE(used.state == plain) << "not used at the limit";
        EXPECT_EQ(FullPaletteFlag, isScript ? 0 : 1);
        EXPECT_EQ(BaseColours[0], isScript ? 0x1E140Au : DefaultBaseColours[0]);
        // A byte more and the new scene is what it is without the file.
        for (const uint64_t length : {uint64_t{SideFileLimit} + 1, uint64_t{50} << 20}) {
            SCOPED_TRACE(length);
            write(length);
            const Outcome skipped = newScene();
            EXPECT_TRUE(skipped.state == plain) << "the long file changed the new scene";
            EXPECT_LT(skipped.read, 2 * FieldSize) << "the long file was read";
        }
    }
}

} // namespace
