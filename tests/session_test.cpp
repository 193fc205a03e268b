// Whole sessions of the real program, driven through talvo-sim's scripted input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

constexpr int Header = 28;

int Sim(const std::string& args, std::string* output = nullptr)
{
    const int status = RunSim(args);
    if (output) *output = ReadText("sim.out");
    return status;
}

int Kind(const std::vector<uint8_t>& scene, int x, int y) { return scene[Header + 24 + y * 336 + x] & 7; }

// Whether the process has a handler for the signal (its SigCgt mask).
bool CatchesSignal(pid_t pid, int number)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (number - 1)) & 1;
    return false;
}

TEST(Session, DrawEraseChooseClearDropAndClose)
{
    TempDir dir;
    // The scene that will be dropped: slow, with heavy sand for the first kind.
    WriteFileText("prep.txt", "1 command 41\n1 command 51\n");
    ASSERT_EQ(Sim("--frames 5 --seed 1 --events prep.txt other.talvo"), 0);
    const std::vector<uint8_t> other = ReadFileBytes("other.talvo");
    ASSERT_EQ(other.size(), 200588u);

    WriteFileText("session.txt",
                  "# a wall with the normal pen, gone again with Clear\n"
                  "2 lbuttondown 100 300\n"
                  "2 mousemove 100 300\n"
                  "2 mousemove 120 300\n"
                  "3 lbuttonup 120 300\n"
                  "4 command 7\n"
                  "# thick pen, small eraser, dusty and magical sand\n"
                  "5 command 22\n"
                  "5 command 30\n"
                  "5 command 52\n"
                  "5 command 64\n"
                  "6 lbuttondown 200 250\n"
                  "6 mousemove 200 250\n"
                  "6 lbuttonup 200 250\n"
                  "7 rbuttondown 200 250\n"
                  "7 mousemove 200 250\n"
                  "7 rbuttonup 200 250\n"
                  "8 command 42\n"
                  "20 drop other.talvo\n");
    std::string menu;
    ASSERT_EQ(Sim("--frames 30 --seed 3 --events session.txt --menu x.talvo", &menu), 0);

    // x.talvo was saved when the file was dropped.
    const std::vector<uint8_t> x = ReadFileBytes("x.talvo");
    ASSERT_EQ(x.size(), 200588u);
    EXPECT_EQ(std::string(x.begin(), x.begin() + 15), "TALVO  V3.0    ");
    EXPECT_EQ(x[15], 0x02); // thick pen, small eraser
    EXPECT_EQ(x[22], 2);    // dusty sand
    EXPECT_EQ(x[24], 4);    // magical sand
    EXPECT_EQ(x[26], 2);    // normal speed
    for (int yy = 245; yy <= 254; ++yy)
        for (int xx = 195; xx <= 204; ++xx) {
            const bool erased = xx >= 199 && xx <= 200 && yy >= 249 && yy <= 250;
            EXPECT_EQ(Kind(x, xx, yy) == 1, !erased) << xx << "," << yy;
        }
    for (int xx = 97; xx <= 122; ++xx) EXPECT_NE(Kind(x, xx, 300), 1) << xx;

    // The close saved to the dropped file, with the settings it brought.
    const std::vector<uint8_t> after = ReadFileBytes("other.talvo");
    ASSERT_EQ(after.size(), 200588u);
    EXPECT_EQ(after[15], 0x21);
    EXPECT_EQ(after[22], 1);
    EXPECT_EQ(after[24], 0);
    EXPECT_EQ(after[26], 1);
    EXPECT_NE(Kind(after, 200, 250), 1);

    for (const char* line : {"[x] 10 Drawing on", "[x] 21 Normal", "[x] 32 Big", "[x] 51 Heavy sand",
                             "[x] 60 Normal sand", "[x] 41 Slow", "[ ] 22 Thick", "[ ] 52 Dusty sand"})
        EXPECT_NE(menu.find(line), std::string::npos) << line << "\n" << menu;
    EXPECT_EQ(menu.find("[x] 30 Small"), std::string::npos);
}

// Standing still at "Stop": nothing moves, and the close comes during the
// stand-still, so the scene is the one of the frame that stopped.
TEST(Session, StopHoldsTheSceneUntilTheClose)
{
    TempDir dir;
    WriteFileText("stop.txt", "3 command 40\n50 command 44\n");
    ASSERT_EQ(Sim("--frames 10 --seed 5 --events stop.txt stopped.talvo"), 0);
    ASSERT_EQ(Sim("--frames 3 --seed 5 ran.talvo"), 0);
    std::vector<uint8_t> stopped = ReadFileBytes("stopped.talvo");
    const std::vector<uint8_t> ran = ReadFileBytes("ran.talvo");
    ASSERT_EQ(stopped.size(), ran.size());
    EXPECT_EQ(stopped[26], 0);
    stopped[26] = ran[26];
    EXPECT_TRUE(stopped == ran);
}

TEST(Session, ALaterSpeedChoiceEndsTheStandStill)
{
    TempDir dir;
    WriteFileText("stop.txt", "3 command 40\n7 command 44\n");
    ASSERT_EQ(Sim("--frames 12 --seed 5 --events stop.txt resumed.talvo"), 0);
    const std::vector<uint8_t> resumed = ReadFileBytes("resumed.talvo");
    ASSERT_EQ(resumed.size(), 200588u);
    EXPECT_EQ(resumed[26], 4);
}

// The period at Stop runs one frame of the loop, no more, each time; at
// any other speed it stops first.
TEST(Session, APeriodAtStopRunsOneFrame)
{
    TempDir dir;
    // At Stop the script's clock goes on to its next line: the run ends at
    // its frame 12 with five frames run.
    WriteFileText("steps.txt", "2 char .\n3 lbuttondown 50 300\n3 mousemove 250 300\n3 lbuttonup 250 300\n"
                               "4 char .\n6 char .\n8 char .\n");
    ASSERT_EQ(Sim("--frames 12 --seed 5 --events steps.txt stepped.talvo"), 0);
    WriteFileText("ran.txt", "3 lbuttondown 50 300\n3 mousemove 250 300\n3 lbuttonup 250 300\n");
    ASSERT_EQ(Sim("--frames 5 --seed 5 --events ran.txt ran.talvo"), 0);
    std::vector<uint8_t> stepped = ReadFileBytes("stepped.talvo");
    const std::vector<uint8_t> ran = ReadFileBytes("ran.talvo");
    ASSERT_EQ(stepped.size(), ran.size());
    EXPECT_EQ(stepped[26], 0) << "stopped by the first period";
    stepped[26] = ran[26];
    EXPECT_TRUE(stepped == ran) << "two frames, then one a period: the scene of five frames";
}

TEST(Session, MalformedEventLinesStopTheRunBeforeItStarts)
{
    TempDir dir;
    for (const char* script : {"1 wiggle 3 4\n", "x command 7\n", "2 lbuttondown 10\n", "5 command 7\n3 command 7\n",
                               "0 close\n", "1 key 300\n", "1 lbuttondown 10 abc\n"}) {
        WriteFileText("bad.txt", std::string("# fine\n") + script);
        EXPECT_NE(Sim("--frames 5 --events bad.txt"), 0) << script;
        const std::vector<uint8_t> err = ReadFileBytes("sim.err");
        EXPECT_NE(std::string(err.begin(), err.end()).find("bad.txt:"), std::string::npos) << script;
        EXPECT_FALSE(FileExists("Default.talvo")) << script;
    }
    EXPECT_NE(Sim("--frames 5 --events missing.txt"), 0);

    // The line is quoted with its control characters escaped, and cut.
    WriteFileText("bad.txt", "1 close\n2 wig\x01gle \"x\"\t\\" + std::string(300, 'y') + "\n");
    EXPECT_EQ(Sim("--frames 5 --events bad.txt"), 2);
    const std::string err = ReadText("sim.err");
    EXPECT_EQ(err.substr(0, err.find('\n')), "talvo-sim: bad.txt:2: unknown event \"wig\\x01gle\": \"2 wig\\x01gle \\\"x\\\"\\t\\\\" +
                                                 std::string(185, 'y') + "\"...");
}

// Numbers are decimal, and a word beginning with # ends the fields.
TEST(Session, EventNumbersAreDecimalAndCommentsFollowFields)
{
    TempDir dir;
    WriteFileText("events.txt", "01 command 041 # Slow, not octal 33\n2 command 053\t#Boiling\n3 drop  none.talvo # gone\n");
    ASSERT_EQ(Sim("--frames 5 --events events.txt x.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> x = ReadFileBytes("x.talvo");
    ASSERT_EQ(x.size(), 200588u);
    EXPECT_EQ(x[22], 3); // slot 1 Boiling sand
    EXPECT_EQ(x[26], 1); // Slow
    for (const char* line : {"1 command 0x29\n", "1 key 1e2\n", "1 command 41 42\n", "1 key +\n"}) {
        WriteFileText("events.txt", line);
        EXPECT_EQ(Sim("--frames 5 --events events.txt x.talvo"), 2) << line;
    }
}

// However many events fall in one frame, all arrive, in order: the button
// comes up before the pen moves on.
TEST(Session, EveryEventOfABusyFrameArrives)
{
    TempDir dir;
    std::string events = "2 lbuttondown 100 300\n";
    for (int i = 0; i < 5000; ++i) events += "2 mousemove 100 300\n";
    events += "2 lbuttonup 100 300\n3 mousemove 200 300\n4 close\n";
    WriteFileText("busy.txt", events);
    ASSERT_EQ(Sim("--frames 1000000 --seed 1 --events busy.txt b.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> b = ReadFileBytes("b.talvo");
    ASSERT_EQ(b.size(), 200588u);
    EXPECT_EQ(Kind(b, 100, 300), 1);
    EXPECT_NE(Kind(b, 200, 300), 1) << "the pen stayed down";
    EXPECT_NE(Kind(b, 150, 300), 1);
}

// An events file written on Windows: CRLF line ends, and a dropped name with
// spaces in it (taken whole, without its line end). The events of the frame
// in which --frames closes the window arrive before the close; later ones
// never do.
TEST(Session, WindowsLineEndsNamesWithSpacesAndTheClosingFrame)
{
    TempDir dir;
    WriteFileText("prep.txt", "1 command 51\n");
    ASSERT_EQ(Sim("--frames 2 --seed 1 --events prep.txt \"my old scene.talvo\""), 0);
    WriteFileText("events.txt", "1 command 41\r\n2 drop my old scene.talvo\r\n3 command 22\r\n"
                                "5 command 63 # in the closing frame\r\n6 command 30\r\n");
    ASSERT_EQ(Sim("--frames 5 --seed 1 --events events.txt x.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> x = ReadFileBytes("x.talvo");
    ASSERT_EQ(x.size(), 200588u);
    EXPECT_EQ(x[26], 1) << "saved before the drop, at Slow";
    const std::vector<uint8_t> old = ReadFileBytes("my old scene.talvo");
    ASSERT_EQ(old.size(), 200588u);
    EXPECT_EQ(old[22], 1) << "the dropped scene loaded";
    EXPECT_EQ(old[15], 0x22) << "thick pen; the big eraser, not the small one of frame 6";
    EXPECT_EQ(old[24], 3) << "the closing frame's choice";
}

// A # inside a dropped name is part of it; one after a space starts a
// comment, which is not part of the path.
TEST(Session, DroppedNamesKeepTheirHashAndLoseATrailingComment)
{
    TempDir dir;
    WriteFileText("prep.txt", "1 command 52\n");
    ASSERT_EQ(Sim("--frames 2 --seed 1 --events prep.txt \"a#1.talvo\""), 0);
    ASSERT_EQ(Sim("--frames 2 --seed 1 b.talvo"), 0);
    WriteFileText("events.txt", "2 drop a#1.talvo\n3 command 22\n4 drop b.talvo   # the second scene\n5 command 30\n");
    ASSERT_EQ(Sim("--frames 6 --seed 1 --events events.txt x.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> a = ReadFileBytes("a#1.talvo"), b = ReadFileBytes("b.talvo");
    ASSERT_EQ(a.size(), 200588u);
    ASSERT_EQ(b.size(), 200588u);
    EXPECT_EQ(a[22], 2) << "a#1.talvo was not the scene dropped first";
    EXPECT_EQ(a[15] & 15, 2) << "the thick pen chosen on a#1.talvo";
    EXPECT_EQ(b[15] >> 4, 0) << "b.talvo, named before the comment, took the small eraser";
    EXPECT_FALSE(FileExists("b.talvo   # the second scene"));
}

// What was waiting when About opened is handled once it closes: a button
// released just before ends the stroke, so a later move draws nothing.
TEST(Session, InputWaitingWhenAboutOpensIsHandledAfterIt)
{
    TempDir dir;
    WriteFileText("about.txt", "2 lbuttondown 100 300\n2 mousemove 100 300\n2 command 11\n2 lbuttonup 100 300\n"
                               "3 key 13\n4 mousemove 200 300\n");
    ASSERT_EQ(Sim("--frames 6 --seed 1 --events about.txt a.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> a = ReadFileBytes("a.talvo");
    ASSERT_EQ(a.size(), 200588u);
    EXPECT_EQ(Kind(a, 100, 300), 1);
    EXPECT_NE(Kind(a, 200, 300), 1) << "the pen stayed down";
}

// A run stopped from outside (a time limit's SIGTERM, Ctrl+C, the terminal
// gone) saves its scene between two frames and then ends by that signal.
TEST(Session, SignalsSaveTheSceneAndEndTheRunByThemselves)
{
    TempDir dir;
    // Slow, in real time: the signal finds the run waiting between frames.
    WriteFileText("slow.txt", "1 command 41\n");
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        std::remove("s.talvo");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Not ignored, whatever the test runs under (nohup, a background job).
            for (const int end : {SIGTERM, SIGINT, SIGHUP}) std::signal(end, SIG_DFL);
            std::freopen("/dev/null", "w", stdout);
            execl(TALVO_SIM_PATH, TALVO_SIM_PATH, "--real-time", "--frames", "100000000", "--events", "slow.txt",
                  "s.talvo", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Sent once the run listens for it: before, it would end the process
        // as any program is ended.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!CatchesSignal(pid, number) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(pid, number);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), number);
        const std::vector<uint8_t> saved = ReadFileBytes("s.talvo");
        ASSERT_EQ(saved.size(), 200588u);
        EXPECT_EQ(std::string(saved.begin(), saved.begin() + 5), "TALVO");
    }
}

// A signal that whoever started the run ignores (nohup) stays ignored: the
// run goes on to its last frame and ends as asked.
TEST(Session, AnIgnoredSignalLeavesTheRunToItsEnd)
{
    TempDir dir;
    WriteFileText("slow.txt", "1 command 41\n30 command 22\n");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGTERM, SIG_IGN);
        std::freopen("/dev/null", "w", stdout);
        execl(TALVO_SIM_PATH, TALVO_SIM_PATH, "--real-time", "--frames", "40", "--events", "slow.txt", "s.talvo",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Once the run is under way (its scene file named in its arguments).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadText("/proc/" + std::to_string(pid) + "/cmdline").find("s.talvo") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::vector<uint8_t> saved = ReadFileBytes("s.talvo");
    ASSERT_EQ(saved.size(), 200588u);
    EXPECT_EQ(saved[15] & 15, 2) << "the run did not reach frame 30";
}

// Captured drags report positions beyond the window; they travel packed as
// 16-bit halves and stamp only what lies inside the frame.
TEST(Session, DragsOutsideTheWindowAreClipped)
{
    TempDir dir;
    WriteFileText("drag.txt",
                  "2 lbuttondown 330 100\n"
                  "2 mousemove 340 100\n"
                  "2 mousemove -5 100\n"
                  "3 lbuttonup -5 100\n"
                  "4 command 10\n"
                  "5 lbuttondown 50 350\n"
                  "5 mousemove 50 350\n"
                  "5 lbuttonup 50 350\n");
    std::string menu;
    ASSERT_EQ(Sim("--frames 6 --seed 2 --events drag.txt --menu d.talvo", &menu), 0);
    const std::vector<uint8_t> d = ReadFileBytes("d.talvo");
    ASSERT_EQ(d.size(), 200588u);
    for (int yy = 97; yy <= 102; ++yy) {
        EXPECT_EQ(Kind(d, 333, yy), 1);
        EXPECT_EQ(Kind(d, 334, yy), 1);
    }
    EXPECT_NE(Kind(d, 50, 350), 1); // drawing was off
    EXPECT_NE(menu.find("[ ] 10 Drawing on"), std::string::npos);
}

// A long session, pinned by a checksum of the scene it leaves (recorded from
// a program whose every documented figure checks out): both populations
// through every kind in turn, walls and erasures of every size, a Clear, a
// stand-still at "Stop" with strokes and commands during it, and the pouring
// cycle past its first wide openings. A slip in the step, the rule tables,
// the cycle or the handlers changes the checksum.
TEST(Session, LongRunLeavesThePinnedScene)
{
    TempDir dir;
    std::multimap<int, std::string> lines; // by frame, in the order given
    auto at = [&](int frame, const std::string& what) { lines.insert({frame, what}); };
    for (int phase = 0; phase < 10; ++phase) {
        const int start = 1 + 600 * phase, size = phase % 3;
        const std::string row = std::to_string(120 + 25 * phase);
        at(start, "command " + std::to_string(50 + phase % 5));
        at(start, "command " + std::to_string(60 + (phase + 2) % 5));
        at(start + 50, "command " + std::to_string(20 + size));
        at(start + 50, "lbuttondown 40 " + row);
        for (int x = 40; x <= 280; x += 12) at(start + 50, "mousemove " + std::to_string(x + phase) + " " + row);
        at(start + 51, "lbuttonup 280 " + row);
        at(start + 300, "command " + std::to_string(30 + size));
        at(start + 300, "rbuttondown 100 " + row);
        for (int x = 100; x <= 200; x += 20) at(start + 300, "mousemove " + std::to_string(x) + " " + row);
        at(start + 301, "rbuttonup 200 " + row);
        at(start + 400, "command " + std::to_string(41 + phase % 4)); // Slow, Normal, Fast, No wait
        if (phase == 1) at(start + 10, "command 7");
        if (phase == 3) {
            at(start + 200, "command 40");
            at(start + 210, "lbuttondown 60 100");
            at(start + 210, "mousemove 90 110");
            at(start + 211, "lbuttonup 90 110");
            at(start + 220, "command 10");
            at(start + 221, "lbuttondown 60 380");
            at(start + 221, "mousemove 90 380");
            at(start + 222, "lbuttonup 90 380");
            at(start + 230, "command 10");
            at(start + 250, "command 44");
        }
    }
    std::string events;
    for (const auto& line : lines) events += std::to_string(line.first) + " " + line.second + "\n";
    WriteFileText("long.txt", events);
    ASSERT_EQ(Sim("--frames 6000 --seed 11 --events long.txt long.talvo"), 0) << ReadText("sim.err");
    const std::vector<uint8_t> scene = ReadFileBytes("long.talvo");
    uint64_t hash = 14695981039346656037u; // FNV-1a
    for (uint8_t b : scene) hash = (hash ^ b) * 1099511628211u;
    EXPECT_EQ(scene.size(), 200588u);
    EXPECT_EQ(hash, 0x09b296b9cfec1eb5u) << std::hex << hash;
}

} // namespace
