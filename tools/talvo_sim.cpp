// talvo-sim: the program's main routine on a headless window, for tests,
// batch runs, pictures and benchmarks.
#ifdef TALVO_PNG
#include <png.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_routine.h"
#include "framework/headless/headless.h"
#include "framework/messages.h"
#include "framework/window.h"

namespace {

struct Options {
    int64_t frames = 1000;
    bool haveSeed = false;
    uint32_t seed = 0;
    std::string png;
    bool bench = false;
    bool realTime = false;
    bool menu = false;
    std::string events;
    std::vector<std::string> scene;
};

Options Opts;

const char Usage[] =
    "usage: talvo-sim [--frames N] [--seed S] [--png FILE] [--bench] [--real-time]\n"
    "                 [--events FILE] [--menu] [SCENE]\n";

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "talvo-sim: %s\n%s", message.c_str(), Usage);
    std::exit(2);
}

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t* out)
{
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || value < low || value > high) return false;
    *out = value;
    return true;
}

void ParseOptions(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) Fail(std::string(name) + " needs a value");
            return argv[++i];
        };
        int64_t number = 0;
        if (arg == "--frames") {
            if (!ParseInteger(value("--frames"), 1, INT32_MAX, &number)) Fail("--frames takes a whole number from 1");
            Opts.frames = number;
        } else if (arg == "--seed") {
            if (!ParseInteger(value("--seed"), 0, UINT32_MAX, &number)) Fail("--seed takes a number from 0 to 4294967295");
            Opts.haveSeed = true;
            Opts.seed = static_cast<uint32_t>(number);
        } else if (arg == "--png") {
            Opts.png = value("--png");
#ifndef TALVO_PNG
            Fail("--png is not available in this build: it has no PNG library");
#endif
        } else if (arg == "--events") {
            Opts.events = value("--events");
        } else if (arg == "--bench") {
            Opts.bench = true;
        } else if (arg == "--real-time") {
            Opts.realTime = true;
        } else if (arg == "--menu") {
            Opts.menu = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            Fail("unknown option " + arg);
        } else {
            if (arg == "--") {
                for (++i; i < argc; ++i) Opts.scene.push_back(argv[i]);
                break;
            }
            Opts.scene.push_back(arg);
        }
    }
}

// One event a line: FRAME EVENT ARGS. Everything is checked before the run.
std::vector<HeadlessEvent> ReadEvents(const std::string& path)
{
    std::ifstream in(path);
    if (!in) Fail("cannot read events file " + path);
    std::vector<HeadlessEvent> events;
    std::string line;
    int lineNumber = 0;
    int64_t lastFrame = 1;
    uint32_t buttons = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        auto bad = [&](const std::string& why) {
            Fail(path + ":" + std::to_string(lineNumber) + ": " + why + ": " + line);
        };
        std::vector<std::string> words;
        size_t at = first;
        while (at < line.size()) {
            const size_t end = line.find_first_of(" \t", at);
            words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (end == std::string::npos) break;
            at = line.find_first_not_of(" \t", end);
            if (at == std::string::npos) break;
        }
        if (words.size() < 2) bad("expected FRAME EVENT ARGS");
        int64_t frame = 0;
        if (!ParseInteger(words[0], 1, INT32_MAX, &frame)) bad("the frame must be a whole number from 1");
        if (frame < lastFrame) bad("frames must not go back");
        lastFrame = frame;
        const std::string& name = words[1];
        auto args = [&](size_t count) {
            if (words.size() != count + 2) bad(name + " takes " + std::to_string(count) + " argument(s)");
        };
        auto number = [&](size_t index, int64_t low, int64_t high) {
            int64_t v = 0;
            if (!ParseInteger(words[index], low, high, &v)) bad("bad number " + words[index]);
            return v;
        };
        HeadlessEvent event{frame, HeadlessEvent::Post, 0, 0, 0, {}};
        const struct {
            const char* name;
            uint32_t message;
            uint32_t setButtons;
            uint32_t clearButtons;
        } mouse[] = {
            {"lbuttondown", WmLButtonDown, 1, 0}, {"lbuttonup", WmLButtonUp, 0, 1},
            {"rbuttondown", WmRButtonDown, 2, 0}, {"rbuttonup", WmRButtonUp, 0, 2},
            {"mousemove", WmMouseMove, 0, 0},
        };
        bool known = false;
        for (const auto& m : mouse) {
            if (name != m.name) continue;
            args(2);
            const int64_t x = number(2, -32768, 65535);
            const int64_t y = number(3, -32768, 65535);
            buttons = (buttons | m.setButtons) & ~m.clearButtons;
            event.message = m.message;
            event.wParam = buttons;
            event.lParam = PackPoint(static_cast<int32_t>(x), static_cast<int32_t>(y));
            known = true;
        }
        if (known) {
        } else if (name == "command") {
            args(1);
            event.message = WmSysCommand;
            event.wParam = static_cast<uint32_t>(number(2, 0, UINT32_MAX));
        } else if (name == "key") {
            args(1);
            event.message = WmKeyDown;
            event.wParam = static_cast<uint32_t>(number(2, 0, 255));
        } else if (name == "char") {
            args(1);
            event.message = WmChar;
            if (words[2].size() == 1 && !(words[2][0] >= '0' && words[2][0] <= '9'))
                event.wParam = static_cast<unsigned char>(words[2][0]);
            else
                event.wParam = static_cast<uint32_t>(number(2, 0, 255));
        } else if (name == "drop") {
            if (words.size() < 3) bad("drop takes a path");
            event.kind = HeadlessEvent::Drop;
            // The path is the rest of the line, spaces included.
            const size_t pathAt = line.find(words[2], line.find(name, first) + name.size());
            event.path = line.substr(pathAt);
        } else if (name == "close") {
            args(0);
            event.kind = HeadlessEvent::Close;
        } else {
            bad("unknown event " + name);
        }
        events.push_back(event);
    }
    return events;
}

#ifdef TALVO_PNG
void WritePng()
{
    std::vector<uint8_t> rgb(static_cast<size_t>(SurfaceWidth) * SurfaceHeight * 3);
    HeadlessSurfaceRgb(rgb.data());
    std::FILE* file = std::fopen(Opts.png.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "talvo-sim: cannot write %s\n", Opts.png.c_str());
        return;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, SurfaceWidth, SurfaceHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int32_t y = 0; y < SurfaceHeight; ++y) png_write_row(png, &rgb[static_cast<size_t>(y) * SurfaceWidth * 3]);
        png_write_end(png, nullptr);
    } else {
        std::fprintf(stderr, "talvo-sim: cannot encode %s\n", Opts.png.c_str());
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}
#else
void WritePng() {}
#endif

void OnWindowDestroyed()
{
    if (!Opts.png.empty()) WritePng();
}

void OnProcessExit(int32_t)
{
    if (Opts.menu) std::fputs(HeadlessMenuText().c_str(), stdout);
    if (Opts.bench) std::fputs(FrameStatisticsLine().c_str(), stdout);
}

} // namespace

int main(int argc, char** argv)
{
    ParseOptions(argc, argv);
    std::vector<HeadlessEvent> events;
    if (!Opts.events.empty()) events = ReadEvents(Opts.events);

    // The run ends with the close box in frame N, after that frame's events.
    bool closeScheduled = false;
    for (const HeadlessEvent& event : events) {
        if (!closeScheduled && event.frame > Opts.frames) {
            HeadlessSchedule(HeadlessEvent{Opts.frames, HeadlessEvent::Close, 0, 0, 0, {}});
            closeScheduled = true;
        }
        HeadlessSchedule(event);
    }
    if (!closeScheduled) HeadlessSchedule(HeadlessEvent{Opts.frames, HeadlessEvent::Close, 0, 0, 0, {}});

    HeadlessUseRealClock(Opts.realTime);
    if (Opts.haveSeed) HeadlessSetClockSeconds(Opts.seed);
    HeadlessOnDestroy(OnWindowDestroyed);
    HeadlessOnExit(OnProcessExit);
    FrameStats.enabled = Opts.bench;

    // The program sees one argument, the scene, or whatever it was given.
    static std::vector<char*> programArgs;
    programArgs.push_back(argv[0]);
    for (std::string& scene : Opts.scene) programArgs.push_back(scene.data());
    programArgs.push_back(nullptr);
    SetProgramArguments(static_cast<int>(programArgs.size() - 1), programArgs.data());
    return AppStart(TalvoMain) == 0 ? 1 : 0;
}
