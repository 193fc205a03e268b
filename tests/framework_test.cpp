// The window procedure with its handler registry, the keyboard ring and mouse
// queue, pumping and frame timing on the simulated clock, painting, palette
// messages and the string table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "framework/headless/headless.h"
#include "framework/input.h"
#include "framework/messages.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/primitives.h"
#include "framework/pump.h"
#include "framework/queue/message_queue.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "sim/field.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t WM_USER_A = 0x0401;
constexpr uint32_t WM_USER_B = 0x0402;

// What a recording handler saw in its last call, and the clock at its first.
struct Seen {
    int32_t calls = 0;
    uint32_t message = 0, wParam = 0, firstTicks = 0;
    int32_t lParam = 0, mouseWaiting = 0, clientWidth = 0;
    WindowHandle window = nullptr;
};
Seen SeenA, SeenB;

template <Seen& S, int32_t Result, uint32_t Work>
int32_t Recorder(WindowHandle w, uint32_t m, uint32_t wp, int32_t lp)
{
    if (S.calls++ == 0) S.firstTicks = PlatformTicks();
    S = {S.calls, m, wp, S.firstTicks, lp, MouseHit(), ClientWidth, w};
    if (Work) HeadlessSetTicks(PlatformTicks() + Work); // slow work inside a handler
    return Result;
}
constexpr MessageHandler HandlerA = Recorder<SeenA, 77, 0>;
constexpr MessageHandler HandlerB = Recorder<SeenB, -5, 0>;
constexpr MessageHandler SlowHandler = Recorder<SeenA, 0, 20>;

void Start()
{
    StartProgram();
    SeenA = SeenB = Seen{};
}

int32_t Send(uint32_t message, uint32_t wParam = 0, int32_t lParam = 0)
{
    return WndProc(MainWindow, message, wParam, lParam);
}

int32_t DefCalls() { return HeadlessLastDefCall().count; }

uint32_t Self() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(MainWindow)); }

bool SameEvent(const MouseEvent& e, int32_t x, int32_t y, int32_t buttons)
{
    return e.x == x && e.y == y && e.buttons == buttons;
}

// Takes the next queued press. An empty queue fails here: MouseWait would
// block, and the headless platform ends a blocked run quietly with code 0.
::testing::AssertionResult NextPressIs(int32_t x, int32_t y, int32_t buttons)
{
    if (!MouseHit()) return ::testing::AssertionFailure() << "nothing queued";
    const MouseEvent e = MouseWait();
    if (SameEvent(e, x, y, buttons)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "took " << e.x << "," << e.y << " buttons " << e.buttons;
}

TEST(FrameworkDispatch, BuiltInMessageRunsTheHandlerFirstThenReturnsZeroWithoutDefault)
{
    Start();
    BuildBasePalette();
    AddHandler(WmLButtonDown, HandlerA);
    AddHandler(WmSize, HandlerB);
    const int32_t defCalls = DefCalls();
    EXPECT_EQ(Send(WmLButtonDown, 1, PackPoint(5, 7)), 0);
    EXPECT_EQ(SeenA.window, MainWindow);
    EXPECT_EQ(SeenA.message, static_cast<uint32_t>(WmLButtonDown));
    EXPECT_EQ(SeenA.lParam, PackPoint(5, 7));
    EXPECT_EQ(SeenA.mouseWaiting, 0); // queued only after the handler
    EXPECT_TRUE(NextPressIs(5, 7, 1));
    EXPECT_EQ(Send(WmSize, 0, PackPoint(120, 80)), 0);
    EXPECT_EQ(SeenB.clientWidth, 336); // the handler saw the old width
    EXPECT_EQ(ClientWidth, 120);
    const uint32_t others[] = {WmSetFocus,    WmKillFocus,      WmPaint,           WmKeyDown,          WmChar,
                               WmRButtonDown, WmPaletteChanged, WmQueryNewPalette, WmPaletteIsChanging};
    for (uint32_t message : others) AddHandler(message, HandlerA);
    for (uint32_t message : others) EXPECT_EQ(Send(message), 0) << message;
    EXPECT_EQ(SeenA.calls, 1 + static_cast<int32_t>(std::size(others)));
    EXPECT_EQ(DefCalls(), defCalls);
}

TEST(FrameworkDispatch, LastHandlerForAnotherMessageRunsAloneAndReplacesTheDefault)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    AddHandler(WM_USER_B, HandlerA);
    AddHandler(WmSysCommand, HandlerB);
    const int32_t defCalls = DefCalls();
    EXPECT_EQ(Send(WM_USER_A, 9, -9), 77);
    EXPECT_EQ(SeenA.wParam, 9u);
    EXPECT_EQ(SeenA.lParam, -9);
    // A newer handler hides the older one, which still serves its other message.
    AddHandler(WM_USER_A, HandlerB);
    EXPECT_EQ(Send(WM_USER_A), -5);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(Send(WM_USER_B), 77);
    AddHandler(WmChar, HandlerA);
    AddHandler(WmChar, HandlerB);
    Send(WmChar, 'x');
    EXPECT_EQ(SeenA.calls, 2);
    EXPECT_EQ(SeenB.calls, 2);
    EXPECT_EQ(KeyGet(), 'x');
    // Not even a close request reaches the default procedure (last: nothing may pump a quit after it).
    EXPECT_EQ(Send(WmSysCommand, ScClose), -5);
    EXPECT_EQ(SeenB.calls, 3);
    EXPECT_TRUE(HeadlessWindowExists());
    EXPECT_EQ(DefCalls(), defCalls);
}

TEST(FrameworkDispatch, UnhandledMessagesReachTheDefaultProcedureUnchanged)
{
    Start();
    AddHandler(WM_USER_B, HandlerA); // a handler for some other message
    // Button releases and moves are not built in: no queueing either.
    const HeadlessDefCall cases[] = {
        {0, WM_USER_A, 0xDEADBEEFu, -123456}, {0, WmLButtonUp, 0, PackPoint(3, 4)}, {0, WmMouseMove, 1, PackPoint(-2, 9)},
    };
    for (const HeadlessDefCall& c : cases) {
        SCOPED_TRACE(c.message);
        const int32_t defCalls = DefCalls();
        Send(c.message, c.wParam, c.lParam);
        const HeadlessDefCall call = HeadlessLastDefCall();
        EXPECT_EQ(call.count, defCalls + 1);
        EXPECT_EQ(call.message, c.message);
        EXPECT_EQ(call.wParam, c.wParam);
        EXPECT_EQ(call.lParam, c.lParam);
    }
    EXPECT_EQ(SeenA.calls, 0);
    EXPECT_EQ(MouseHit(), 0);
}

// However much arrives between two pumps, all of it is handled, in order.
TEST(FrameworkQueue, EveryPostedMessageArrivesInOrderAndDropsNameTheirFiles)
{
    Start();
    static std::vector<uint32_t> order;
    order.clear();
    AddHandler(WM_USER_A, [](WindowHandle, uint32_t, uint32_t wp, int32_t) {
        order.push_back(wp);
        return 0;
    });
    for (uint32_t i = 0; i < 10000; ++i) QueuePost(WM_USER_A, i, 0);
    PumpMessages();
    ASSERT_EQ(order.size(), 10000u);
    for (uint32_t i = 0; i < 10000; ++i) ASSERT_EQ(order[i], i);

    static std::vector<std::string> names;
    names.clear();
    AddHandler(WmDropFiles, [](WindowHandle, uint32_t, uint32_t drop, int32_t) {
        char name[8];
        const uint32_t length = DroppedFileName(drop, name, sizeof name);
        names.push_back(std::to_string(length) + ":" + name);
        names.push_back(std::to_string(DroppedFileName(drop, name, sizeof name))); // gone once taken
        return 0;
    });
    QueuePostDrop({"first.talvo", "ignored"});
    QueuePostDrop({"b"});
    PumpMessages();
    EXPECT_EQ(names, (std::vector<std::string>{"11:first.t", "0", "1:b", "0"}));
}

TEST(FrameworkDispatch, SizeTakesUnsignedHalvesAndFocusSetsTheFlag)
{
    Start();
    EXPECT_EQ(ClientWidth, 336); // creation reported the fixed client size
    EXPECT_EQ(ClientHeight, 402);
    Send(WmSize, 0, static_cast<int32_t>(0xFFFE8001u));
    EXPECT_EQ(ClientWidth, 0x8001);
    EXPECT_EQ(ClientHeight, 0xFFFE);
    EXPECT_EQ(HasFocus, 0);
    Send(WmSetFocus);
    EXPECT_EQ(HasFocus, 1);
    Send(WmKillFocus);
    EXPECT_EQ(HasFocus, 0);
}

TEST(FrameworkKeys, KeyDownTranslatesFiveKeysAndCharPushesTheLowByte)
{
    Start();
    const int32_t defCalls = DefCalls();
    const uint32_t keys[] = {VkUp, 0x70 /* F1 */, VkDelete, 0x74 /* F5 */, VkLeft, 'A', VkRight, VkDown};
    for (uint32_t key : keys) EXPECT_EQ(Send(WmKeyDown, key), 0) << key;
    EXPECT_EQ(DefCalls(), defCalls);
    for (uint32_t ch : {0x71u /* q */, 0x1234u, 0xFFu}) EXPECT_EQ(Send(WmChar, ch), 0);
    const uint8_t expected[] = {30, 17, 29, 28, 31, 'q', 0x34, 0xFF};
    for (uint8_t code : expected) EXPECT_EQ(KeyGet(), code);
    EXPECT_EQ(KeyHit(), 0);
    // A letter key through the pump arrives as the character it translates to.
    AddHandler(WmChar, HandlerA);
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WmKeyDown, 'A', 0, ""});
    PumpMessages();
    ASSERT_EQ(SeenA.calls, 1);
    EXPECT_EQ(KeyGet(), static_cast<uint8_t>(SeenA.wParam));
    EXPECT_EQ(KeyHit(), 0);
    // KeyGet and KeyWait pump first; KeyHit does not.
    QueuePost(WmChar, 'k', 0);
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(KeyGet(), 'k');
    QueuePost(WmKeyDown, VkDown, 0);
    QueuePost(WmChar, 'z', 0); // so that KeyWait cannot block should the key be lost
    EXPECT_EQ(KeyWait(), 31);
}

TEST(FrameworkKeys, RingHolds255WrapsRoundAndFlushEmptiesIt)
{
    Start();
    for (uint32_t i = 1; i <= 255; ++i) Send(WmChar, i);
    Send(WmChar, 'X'); // full: dropped
    EXPECT_EQ(KeyGet(), 1);
    Send(WmChar, 'Y'); // takes the freed slot, the last before the wrap
    Send(WmChar, 'Z'); // full again: dropped
    for (int32_t i = 2; i <= 255; ++i) ASSERT_EQ(KeyGet(), i);
    EXPECT_EQ(KeyGet(), 'Y');
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(KeyGet(), 0);
    // A flush empties the ring, which then takes 255 codes again.
    for (int32_t i = 0; i < 300; ++i) Send(WmChar, 7);
    KeyFlush();
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(KeyGet(), 0);
    for (int32_t i = 0; i < 300; ++i) Send(WmChar, 7);
    int32_t stored = 0;
    for (; KeyHit(); ++stored) KeyGet();
    EXPECT_EQ(stored, 255);
}

TEST(FrameworkMouse, PressesAreQueuedWithUnsignedCoordinatesUpTo255)
{
    Start();
    Send(WmLButtonDown, 0, PackPoint(5, 7));
    Send(WmRButtonDown, 0, PackPoint(335, 401));
    Send(WmLButtonDown, 0, PackPoint(-1, 3));
    Send(WmRButtonDown, 0, PackPoint(10, -2));
    EXPECT_TRUE(NextPressIs(5, 7, 1));
    EXPECT_TRUE(NextPressIs(335, 401, 2));
    EXPECT_TRUE(NextPressIs(65535, 3, 1));
    EXPECT_TRUE(NextPressIs(10, 65534, 2));
    EXPECT_EQ(MouseHit(), 0);
    for (int32_t i = 0; i < 255; ++i) Send(WmLButtonDown, 0, PackPoint(i, 0));
    Send(WmRButtonDown, 0, PackPoint(999, 999)); // full: dropped
    EXPECT_TRUE(NextPressIs(0, 0, 1));
    Send(WmRButtonDown, 0, PackPoint(1000, 1)); // stored
    Send(WmRButtonDown, 0, PackPoint(1001, 1)); // dropped
    for (int32_t i = 1; i < 255; ++i) ASSERT_TRUE(NextPressIs(i, 0, 1)) << i;
    EXPECT_TRUE(NextPressIs(1000, 1, 2));
    EXPECT_EQ(MouseHit(), 0);
    Send(WmLButtonDown, 0, PackPoint(1, 1));
    MouseFlush();
    EXPECT_EQ(MouseHit(), 0);
}

TEST(FrameworkMouse, PollReportsSignedPositionAndHeldButtonsWithoutQueueing)
{
    Start();
    auto pump = [](uint32_t message, uint32_t held, int32_t x, int32_t y) {
        HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, message, held, PackPoint(x, y), ""});
        PumpMessages();
    };
    pump(WmLButtonDown, MkLButton, -5, 20);
    pump(WmRButtonDown, MkLButton | MkRButton, 40, 41);
    EXPECT_TRUE(SameEvent(MousePoll(), 40, 41, 3));
    pump(WmLButtonUp, MkRButton, -5, -6);
    EXPECT_TRUE(SameEvent(MousePoll(), -5, -6, 2));
    // The pointer moves on and the button goes up with no message at all:
    // the poll asks where it is now, and queues nothing.
    HeadlessMovePointer(500, -40, 0);
    EXPECT_TRUE(SameEvent(MousePoll(), 500, -40, 0));
    EXPECT_TRUE(NextPressIs(65531, 20, 1));
    EXPECT_TRUE(NextPressIs(40, 41, 2));
    EXPECT_EQ(MouseHit(), 0);
}

TEST(FrameworkTiming, WaitEndsAtTheRightTickAndHandlesMessagesOnlyWhileWaiting)
{
    // A wait of `span` called at `now`, the previous wait having ended at
    // `mark` (0: none this run), with `posts` messages pending.
    const struct {
        const char* what;
        uint32_t mark, now;
        int32_t span, posts;
        bool slow;
        uint32_t end;
        int32_t handled;
    } cases[] = {
        {"negative span counts from the end of the last wait", 5000, 5020, -50, 1, false, 5050, 1},
        {"already passed: returns at once, handles nothing", 5000, 5080, -50, 1, false, 5080, 0},
        {"exactly the span after the mark has passed", 5000, 5050, -50, 1, false, 5050, 0},
        {"first negative wait of the run", 0, 1234567, -50, 1, false, 1234567, 0},
        {"zero returns at once", 9000, 9000, 0, 1, false, 9000, 0},
        {"positive span counts from the call", 5000, 5100, 30, 1, false, 5130, 1},
        {"a recent mark does not shorten a positive span", 5130, 5135, 30, 1, false, 5165, 1},
        {"work inside the wait counts towards it", 5000, 5000, -50, 1, true, 5050, 1},
        {"a handler running past the end ends the wait", 5050, 5050, -50, 3, true, 5110, 3},
        {"tick wrap inside a negative wait", 0xFFFFFFF0u, 0xFFFFFFF0u, -50, 1, true, 34, 1},
        {"positive span started just before the wrap", 0xFFFFFFF0u, 0xFFFFFFFFu, 30, 1, false, 29, 1},
        {"mark before the wrap, end already passed", 0xFFFFFFF0u, 100, -50, 1, false, 100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        AddHandler(WM_USER_A, c.slow ? SlowHandler : HandlerA);
        HeadlessSetTicks(c.mark);
        if (c.mark != 0) WaitTicks(0);
        ASSERT_EQ(FrameMark, c.mark);
        HeadlessSetTicks(c.now);
        for (int32_t i = 0; i < c.posts; ++i) QueuePost(WM_USER_A, 0, 0);
        WaitTicks(c.span);
        EXPECT_EQ(PlatformTicks(), c.end);
        EXPECT_EQ(FrameMark, c.end);
        EXPECT_EQ(LastPumpTick, c.end);
        EXPECT_EQ(SeenA.calls, c.handled);
        EXPECT_EQ(SeenA.firstTicks, c.handled > 0 ? c.now : 0u); // handled as the wait began
        PumpMessages(); // what the wait did not handle is still queued
        EXPECT_EQ(SeenA.calls, c.posts);
    }
}

TEST(FrameworkTiming, PumpsLeaveTheMarkAndPumpEveryCountsFromAnyPumpOrWait)
{
    Start();
    HeadlessSetTicks(5000);
    WaitTicks(0);
    HeadlessSetTicks(5020);
    PumpMessages();
    HeadlessSetTicks(5030);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5050u);

    // Each step posts a message, then at `tick` calls PumpEvery(100), PumpMessages or WaitTicks(0).
    Start();
    AddHandler(WM_USER_A, HandlerA);
    const struct { uint32_t tick; char call; int32_t handled; uint32_t lastPump; } steps[] = {
        {8000, 'E', 1, 8000}, {8099, 'E', 1, 8000}, {8100, 'E', 3, 8100}, {8150, 'P', 4, 8150},
        {8200, 'E', 4, 8150}, {8260, 'W', 4, 8260}, {8300, 'E', 4, 8260}, {8360, 'E', 8, 8360}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.tick);
        HeadlessSetTicks(s.tick);
        QueuePost(WM_USER_A, 0, 0);
        if (s.call == 'E') PumpEvery(100);
        if (s.call == 'P') PumpMessages();
        if (s.call == 'W') WaitTicks(0);
        EXPECT_EQ(SeenA.calls, s.handled);
        EXPECT_EQ(LastPumpTick, s.lastPump);
    }
}

using FrameworkQuitDeathTest = ::testing::Test;

TEST_F(FrameworkQuitDeathTest, WhicheverPumpRemovesTheQuitEndsTheProcessWithItsCode)
{
    const struct { const char* what; void (*run)(); int code; } cases[] = {
        {"PumpMessages", [] { PlatformPostQuit(0); PumpMessages(); }, 0},
        {"quit code", [] { PlatformPostQuit(3); PumpMessages(); }, 3},
        {"PumpEvery", [] { PlatformPostQuit(0); PumpEvery(100); }, 0},
        {"KeyGet", [] { PlatformPostQuit(0); KeyGet(); }, 0},
        {"WmDestroy posts it, without default processing",
         [] {
             const int32_t defCalls = DefCalls();
             if (Send(WmDestroy) != 0 || DefCalls() != defCalls) std::exit(6);
             PumpMessages();
         },
         0},
        {"in the middle of a wait",
         [] {
             AddHandler(WM_USER_A, [](WindowHandle, uint32_t, uint32_t, int32_t) { PlatformPostQuit(0); return 0; });
             HeadlessSetTicks(5000);
             WaitTicks(0);
             QueuePost(WM_USER_A, 0, 0);
             WaitTicks(-50);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Exit code 5 would mean the caller saw the quit.
        EXPECT_EXIT(
            {
                Start();
                c.run();
                std::exit(5);
            },
            ::testing::ExitedWithCode(c.code), "");
    }
}

TEST(FrameworkPaint, PaintCopiesTheReportedWidthAndAll402RowsCopyToWindowTheReportedSize)
{
    const struct { int32_t width, height; bool paint; int32_t shownWidth, shownHeight; } cases[] = {
        {100, 50, true, 100, 402}, {100, 50, false, 100, 50}, {336, 402, false, 336, 402},
        {0, 0, true, 0, 0},        {0, 0, false, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << (c.paint ? " paint" : " copy"));
        Start();
        SetMirror(0);
        // Every byte differs from the window's initial 0.
        for (int32_t p = 0; p < FieldSize; ++p) SurfaceBits[p] = static_cast<uint8_t>(p % 251 + 1);
        Send(WmSize, 0, PackPoint(c.width, c.height));
        if (c.paint)
            Send(WmPaint);
        else
            CopyToWindow();
        const uint8_t* shown = HeadlessWindowBytes();
        for (int32_t p = 0; p < FieldSize; ++p) {
            const bool inside = p % SurfaceWidth < c.shownWidth && p / SurfaceWidth < c.shownHeight;
            ASSERT_EQ(shown[p], inside ? SurfaceBits[p] : 0) << p % SurfaceWidth << "," << p / SurfaceWidth;
        }
    }
}

// Palette realizations caused by each step, in order, from a program with no palette yet.
TEST(FrameworkPaletteMessages, PaintAndPaletteMessagesRealizeOnlyWhatTheyShould)
{
    Start();
    const struct { const char* what; void (*step)(); int32_t realizes; } steps[] = {
        {"paint without a palette", [] { Send(WmPaint); }, 0},
        {"query without a palette", [] { Send(WmQueryNewPalette); }, 1},
        {"changing without a palette, then a pump", [] { Send(WmPaletteIsChanging); PumpMessages(); }, 0},
        {"building one", [] { BuildBasePalette(); }, 1},
        {"paint", [] { Send(WmPaint); }, 1},
        {"changing, then a pump", [] { Send(WmPaletteIsChanging); PumpMessages(); }, 1},
        {"another pump", [] { PumpMessages(); }, 0},
        {"changing, then a wait", [] { Send(WmPaletteIsChanging); WaitTicks(0); }, 1},
        {"our own palette change", [] { Send(WmPaletteChanged, Self()); }, 0},
        {"another window's change", [] { Send(WmPaletteChanged, Self() + 1); }, 1},
        {"query", [] { Send(WmQueryNewPalette); }, 1},
        {"paint after PaletteBegin", [] { PaletteBegin(); Send(WmPaint); }, 0},
        {"paint after the first add", [] { PaletteAdd(0x112233); Send(WmPaint); }, 1},
    };
    for (const auto& s : steps) {
        const int32_t before = HeadlessRealizeCount();
        s.step();
        EXPECT_EQ(HeadlessRealizeCount() - before, s.realizes) << s.what;
    }
    PaletteRealize();
}

TEST(FrameworkStrings, SharedBufferHoldsTheLastTextAndUnknownIdsAreEmpty)
{
    Start();
    const char* title = LoadResString(4);
    EXPECT_STREQ(title, "Talvo");
    EXPECT_EQ(LoadResString(7), title); // one buffer for every call
    EXPECT_STREQ(title, "Clear");
    EXPECT_STREQ(LoadResString(4), "Talvo");
    EXPECT_STREQ(LoadResString(9999), "");
    EXPECT_STREQ(title, "");
    EXPECT_STREQ(LoadResString(0), "");
}

} // namespace
