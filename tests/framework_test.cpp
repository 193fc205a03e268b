// The window procedure with its handler registry, the keyboard ring and mouse
// queue, pumping and frame timing on the simulated clock, painting and the
// string table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/headless/headless.h"
#include "framework/input.h"
#include "framework/messages.h"
#include "framework/palette_builder.h"
#include "framework/platform.h"
#include "framework/primitives.h"
#include "framework/strings.h"
#include "framework/window.h"
#include "sim/palette.h"
#include "test_support.h"

namespace {

constexpr uint32_t WM_USER_A = 0x0401;
constexpr uint32_t WM_USER_B = 0x0402;
constexpr uint32_t VK_F1 = 0x70;
constexpr uint32_t VK_F5 = 0x74;

// What the recording handlers saw.
struct Seen {
    int32_t calls = 0;
    uint32_t message = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
    WindowHandle window = nullptr;
    uint32_t ticks = 0;
    int32_t mouseWaiting = 0;
    int32_t clientWidth = 0;
};
Seen SeenA, SeenB;

void Record(Seen& seen, WindowHandle w, uint32_t m, uint32_t wp, int32_t lp)
{
    ++seen.calls;
    seen.window = w;
    seen.message = m;
    seen.wParam = wp;
    seen.lParam = lp;
    seen.ticks = PlatformTicks();
    seen.mouseWaiting = MouseHit();
    seen.clientWidth = ClientWidth;
}

int32_t HandlerA(WindowHandle w, uint32_t m, uint32_t wp, int32_t lp)
{
    Record(SeenA, w, m, wp, lp);
    return 77;
}

int32_t HandlerB(WindowHandle w, uint32_t m, uint32_t wp, int32_t lp)
{
    Record(SeenB, w, m, wp, lp);
    return -5;
}

// Moves the clock on by 20 ms, as slow work inside a handler would.
int32_t SlowHandler(WindowHandle w, uint32_t m, uint32_t wp, int32_t lp)
{
    Record(SeenA, w, m, wp, lp);
    HeadlessSetTicks(PlatformTicks() + 20);
    return 0;
}

int32_t QuitHandler(WindowHandle, uint32_t, uint32_t, int32_t)
{
    PlatformPostQuit(0);
    return 0;
}

// A fresh program with empty rings and no handler calls seen yet.
void Start()
{
    StartProgram();
    KeyFlush();
    MouseFlush();
    SeenA = Seen{};
    SeenB = Seen{};
}

bool SameEvent(const MouseEvent& e, int32_t x, int32_t y, int32_t buttons)
{
    return e.x == x && e.y == y && e.buttons == buttons;
}

// ------------------------------------------------------------------ dispatch

TEST(FrameworkDispatch, HandlerForABuiltInMessageRunsFirstAndItsResultIsIgnored)
{
    Start();
    AddHandler(WM_LBUTTONDOWN, HandlerA);
    const int32_t defCalls = HeadlessLastDefCall().count;
    EXPECT_EQ(WndProc(MainWindow, WM_LBUTTONDOWN, 1, PackPoint(5, 7)), 0);
    ASSERT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenA.window, MainWindow);
    EXPECT_EQ(SeenA.message, static_cast<uint32_t>(WM_LBUTTONDOWN));
    EXPECT_EQ(SeenA.wParam, 1u);
    EXPECT_EQ(SeenA.lParam, PackPoint(5, 7));
    // The press was queued after the handler ran.
    EXPECT_EQ(SeenA.mouseWaiting, 0);
    ASSERT_EQ(MouseHit(), 1);
    EXPECT_TRUE(SameEvent(MouseWait(), 5, 7, 1));
    EXPECT_EQ(HeadlessLastDefCall().count, defCalls);

    // The same for WM_SIZE: the handler sees the width from before.
    AddHandler(WM_SIZE, HandlerB);
    EXPECT_EQ(WndProc(MainWindow, WM_SIZE, 0, PackPoint(120, 80)), 0);
    EXPECT_EQ(SeenB.calls, 1);
    EXPECT_EQ(SeenB.clientWidth, 336);
    EXPECT_EQ(ClientWidth, 120);
    EXPECT_EQ(ClientHeight, 80);
    EXPECT_EQ(HeadlessLastDefCall().count, defCalls);
}

TEST(FrameworkDispatch, EveryBuiltInMessageReturnsZeroWhateverTheHandlerSays)
{
    Start();
    BuildBasePalette();
    const uint32_t builtIns[] = {WM_SIZE,      WM_SETFOCUS,    WM_KILLFOCUS,         WM_PAINT,
                                 WM_KEYDOWN,   WM_CHAR,        WM_LBUTTONDOWN,       WM_RBUTTONDOWN,
                                 WM_PALETTEISCHANGING, WM_PALETTECHANGED, WM_QUERYNEWPALETTE};
    for (uint32_t message : builtIns) AddHandler(message, HandlerA);
    const int32_t defCalls = HeadlessLastDefCall().count;
    for (uint32_t message : builtIns) EXPECT_EQ(WndProc(MainWindow, message, 0, 0), 0) << message;
    EXPECT_EQ(SeenA.calls, static_cast<int32_t>(sizeof builtIns / sizeof builtIns[0]));
    EXPECT_EQ(HeadlessLastDefCall().count, defCalls);
}

TEST(FrameworkDispatch, HandlerForAnotherMessageReplacesTheDefaultProcessing)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    AddHandler(WM_SYSCOMMAND, HandlerB);
    const int32_t defCalls = HeadlessLastDefCall().count;
    EXPECT_EQ(WndProc(MainWindow, WM_USER_A, 9, -9), 77);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenA.wParam, 9u);
    EXPECT_EQ(SeenA.lParam, -9);
    // Not even a close request reaches the default procedure.
    EXPECT_EQ(WndProc(MainWindow, WM_SYSCOMMAND, SC_CLOSE, 0), -5);
    EXPECT_EQ(SeenB.calls, 1);
    EXPECT_EQ(HeadlessLastDefCall().count, defCalls);
    EXPECT_TRUE(HeadlessWindowExists());
}

TEST(FrameworkDispatch, OnlyTheHandlerRegisteredLastRuns)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    AddHandler(WM_USER_B, HandlerA);
    AddHandler(WM_USER_A, HandlerB);
    EXPECT_EQ(WndProc(MainWindow, WM_USER_A, 1, 2), -5);
    EXPECT_EQ(SeenB.calls, 1);
    EXPECT_EQ(SeenA.calls, 0);
    // The older handler still serves the message it alone is registered for.
    EXPECT_EQ(WndProc(MainWindow, WM_USER_B, 3, 4), 77);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenB.calls, 1);

    // The same holds for a built-in message.
    AddHandler(WM_CHAR, HandlerA);
    AddHandler(WM_CHAR, HandlerB);
    WndProc(MainWindow, WM_CHAR, 'x', 0);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenB.calls, 2);
    EXPECT_EQ(KeyGet(), 'x');
}

TEST(FrameworkDispatch, UnhandledMessagesReachTheDefaultProcedureUnchanged)
{
    Start();
    AddHandler(WM_USER_B, HandlerA); // a handler for some other message
    const int32_t defCalls = HeadlessLastDefCall().count;
    WndProc(MainWindow, WM_USER_A, 0xDEADBEEFu, -123456);
    HeadlessDefCall call = HeadlessLastDefCall();
    EXPECT_EQ(call.count, defCalls + 1);
    EXPECT_EQ(call.message, WM_USER_A);
    EXPECT_EQ(call.wParam, 0xDEADBEEFu);
    EXPECT_EQ(call.lParam, -123456);
    EXPECT_EQ(SeenA.calls, 0);

    // Button releases and moves are not built in: no queueing, default processing.
    WndProc(MainWindow, WM_LBUTTONUP, 0, PackPoint(3, 4));
    call = HeadlessLastDefCall();
    EXPECT_EQ(call.count, defCalls + 2);
    EXPECT_EQ(call.message, static_cast<uint32_t>(WM_LBUTTONUP));
    EXPECT_EQ(call.lParam, PackPoint(3, 4));
    WndProc(MainWindow, WM_MOUSEMOVE, 1, PackPoint(-2, 9));
    call = HeadlessLastDefCall();
    EXPECT_EQ(call.count, defCalls + 3);
    EXPECT_EQ(call.wParam, 1u);
    EXPECT_EQ(call.lParam, PackPoint(-2, 9));
    EXPECT_EQ(MouseHit(), 0);
}

TEST(FrameworkDispatch, PumpedMessagesGoThroughTheWindowProcedure)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    AddHandler(WM_USER_B, HandlerB);
    PlatformPostMessage(WM_USER_A, 11, 12);
    PlatformPostMessage(WM_USER_B, 13, 14);
    PlatformPostMessage(WM_USER_A, 15, 16);
    EXPECT_EQ(SeenA.calls, 0);
    HeadlessSetTicks(777777);
    PumpMessages();
    EXPECT_EQ(SeenA.calls, 2);
    EXPECT_EQ(SeenA.wParam, 15u);
    EXPECT_EQ(SeenB.calls, 1);
    EXPECT_EQ(SeenB.lParam, 14);
    EXPECT_EQ(LastPumpTick, 777777u);
}

// ----------------------------------------------------------- window state

TEST(FrameworkWindowState, SizeTakesTheTwoUnsignedHalvesOfLParam)
{
    Start();
    // Creation reported the fixed client size.
    EXPECT_EQ(ClientWidth, 336);
    EXPECT_EQ(ClientHeight, 402);
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(0, 0));
    EXPECT_EQ(ClientWidth, 0);
    EXPECT_EQ(ClientHeight, 0);
    WndProc(MainWindow, WM_SIZE, 0, static_cast<int32_t>(0xFFFE8001u));
    EXPECT_EQ(ClientWidth, 0x8001);
    EXPECT_EQ(ClientHeight, 0xFFFE);
}

TEST(FrameworkWindowState, FocusMessagesSetTheFlag)
{
    Start();
    EXPECT_EQ(HasFocus, 0);
    WndProc(MainWindow, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(HasFocus, 1);
    WndProc(MainWindow, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(HasFocus, 0);
}

// -------------------------------------------------------------- keyboard

TEST(FrameworkKeys, KeyDownTranslatesTheFiveKeysOnly)
{
    Start();
    const int32_t defCalls = HeadlessLastDefCall().count;
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_UP, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_F1, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_DELETE, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_F5, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_LEFT, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, 'A', 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_RIGHT, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_KEYDOWN, VK_DOWN, 0), 0);
    EXPECT_EQ(HeadlessLastDefCall().count, defCalls);
    const uint8_t expected[] = {30, 17, 29, 28, 31};
    for (uint8_t code : expected) EXPECT_EQ(KeyGet(), code);
    EXPECT_EQ(KeyHit(), 0);
}

TEST(FrameworkKeys, CharPushesTheLowByte)
{
    Start();
    EXPECT_EQ(WndProc(MainWindow, WM_CHAR, 'q', 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_CHAR, 0x1234, 0), 0);
    EXPECT_EQ(WndProc(MainWindow, WM_CHAR, 0xFF, 0), 0);
    EXPECT_EQ(KeyGet(), 'q');
    EXPECT_EQ(KeyGet(), 0x34);
    EXPECT_EQ(KeyGet(), 0xFF);
}

TEST(FrameworkKeys, LetterKeyThroughThePumpStoresTheCharacterCode)
{
    Start();
    AddHandler(WM_CHAR, HandlerA); // sees the character the translation made
    PlatformPostMessage(WM_KEYDOWN, 'A', 0);
    PumpMessages();
    ASSERT_EQ(SeenA.calls, 1);
    ASSERT_EQ(KeyHit(), 1);
    EXPECT_EQ(KeyGet(), static_cast<uint8_t>(SeenA.wParam));
    EXPECT_EQ(KeyHit(), 0);
}

TEST(FrameworkKeys, RingHolds255AndOneGetFreesExactlyOneSlot)
{
    Start();
    for (int32_t i = 1; i <= 255; ++i) WndProc(MainWindow, WM_CHAR, static_cast<uint32_t>(i), 0);
    WndProc(MainWindow, WM_CHAR, 'X', 0); // full: dropped
    EXPECT_EQ(KeyGet(), 1);
    WndProc(MainWindow, WM_CHAR, 'Y', 0); // takes the freed slot
    WndProc(MainWindow, WM_CHAR, 'Z', 0); // full again: dropped
    for (int32_t i = 2; i <= 255; ++i) ASSERT_EQ(KeyGet(), i);
    EXPECT_EQ(KeyGet(), 'Y');
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(KeyGet(), 0);
}

TEST(FrameworkKeys, WrapsRoundTheRingAndFlushEmptiesIt)
{
    Start();
    // Take and give repeatedly so the indices pass 255 several times.
    for (int32_t i = 0; i < 1000; ++i) {
        WndProc(MainWindow, WM_CHAR, static_cast<uint32_t>(i & 0xFF), 0);
        WndProc(MainWindow, WM_CHAR, static_cast<uint32_t>((i + 1) & 0xFF), 0);
        ASSERT_EQ(KeyGet(), i & 0xFF);
        ASSERT_EQ(KeyGet(), (i + 1) & 0xFF);
    }
    EXPECT_EQ(KeyHit(), 0);
    WndProc(MainWindow, WM_CHAR, 'a', 0);
    WndProc(MainWindow, WM_CHAR, 'b', 0);
    EXPECT_EQ(KeyHit(), 1);
    KeyFlush();
    EXPECT_EQ(KeyHit(), 0);
    EXPECT_EQ(KeyGet(), 0);
    // After a flush the ring again takes 255 codes.
    for (int32_t i = 0; i < 300; ++i) WndProc(MainWindow, WM_CHAR, 7, 0);
    int32_t stored = 0;
    while (KeyHit()) {
        KeyGet();
        ++stored;
    }
    EXPECT_EQ(stored, 255);
}

TEST(FrameworkKeys, KeyGetPumpsBeforeLooking)
{
    Start();
    PlatformPostMessage(WM_CHAR, 'k', 0);
    EXPECT_EQ(KeyHit(), 0); // KeyHit does not pump
    EXPECT_EQ(KeyGet(), 'k');
    PlatformPostMessage(WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(KeyWait(), 31);
}

// ------------------------------------------------------------------- mouse

TEST(FrameworkMouse, PressesAreQueuedWithUnsignedCoordinates)
{
    Start();
    WndProc(MainWindow, WM_LBUTTONDOWN, 0, PackPoint(5, 7));
    WndProc(MainWindow, WM_RBUTTONDOWN, 0, PackPoint(335, 401));
    WndProc(MainWindow, WM_LBUTTONDOWN, 0, PackPoint(-1, 3));
    WndProc(MainWindow, WM_RBUTTONDOWN, 0, PackPoint(10, -2));
    ASSERT_EQ(MouseHit(), 1);
    EXPECT_TRUE(SameEvent(MouseWait(), 5, 7, 1));
    EXPECT_TRUE(SameEvent(MouseWait(), 335, 401, 2));
    EXPECT_TRUE(SameEvent(MouseWait(), 65535, 3, 1));
    EXPECT_TRUE(SameEvent(MouseWait(), 10, 65534, 2));
    EXPECT_EQ(MouseHit(), 0);
}

TEST(FrameworkMouse, QueueHolds255AndOneTakeFreesOneSlot)
{
    Start();
    for (int32_t i = 0; i < 255; ++i) WndProc(MainWindow, WM_LBUTTONDOWN, 0, PackPoint(i, 0));
    WndProc(MainWindow, WM_RBUTTONDOWN, 0, PackPoint(999, 999)); // dropped
    EXPECT_TRUE(SameEvent(MouseWait(), 0, 0, 1));
    WndProc(MainWindow, WM_RBUTTONDOWN, 0, PackPoint(1000, 1)); // stored
    WndProc(MainWindow, WM_RBUTTONDOWN, 0, PackPoint(1001, 1)); // dropped
    for (int32_t i = 1; i < 255; ++i) ASSERT_TRUE(SameEvent(MouseWait(), i, 0, 1)) << i;
    EXPECT_TRUE(SameEvent(MouseWait(), 1000, 1, 2));
    EXPECT_EQ(MouseHit(), 0);
    WndProc(MainWindow, WM_LBUTTONDOWN, 0, PackPoint(1, 1));
    MouseFlush();
    EXPECT_EQ(MouseHit(), 0);
}

TEST(FrameworkMouse, PollReportsSignedPositionAndHeldButtonsWithoutQueueing)
{
    Start();
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WM_LBUTTONDOWN, 0, PackPoint(-5, 20), ""});
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WM_RBUTTONDOWN, 0, PackPoint(40, 41), ""});
    PumpMessages();
    const int32_t queued = MouseHit();
    MouseEvent e = MousePoll();
    EXPECT_EQ(e.x, 40);
    EXPECT_EQ(e.y, 41);
    EXPECT_EQ(e.buttons, 3);
    HeadlessSchedule({HeadlessFrame() + 1, HeadlessEvent::Post, WM_LBUTTONUP, 0, PackPoint(-5, -6), ""});
    PumpMessages();
    e = MousePoll();
    EXPECT_EQ(e.x, -5);
    EXPECT_EQ(e.y, -6);
    EXPECT_EQ(e.buttons, 2);
    EXPECT_EQ(queued, 1);
    EXPECT_TRUE(SameEvent(MouseWait(), 65531, 20, 1));
    EXPECT_TRUE(SameEvent(MouseWait(), 40, 41, 2));
    EXPECT_EQ(MouseHit(), 0);
}

// ---------------------------------------------------------------- timing

TEST(FrameworkTiming, NegativeSpanCountsFromTheEndOfTheLastWait)
{
    Start();
    HeadlessSetTicks(5000);
    WaitTicks(0);
    ASSERT_EQ(FrameMark, 5000u);
    HeadlessSetTicks(5020);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5050u);
    EXPECT_EQ(FrameMark, 5050u);
    EXPECT_EQ(LastPumpTick, 5050u);
    // The next period starts where this one ended, however long the work took.
    HeadlessSetTicks(5060);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5100u);
    // A pump between two waits, as every frame has, does not move the mark.
    HeadlessSetTicks(5120);
    PumpMessages();
    ASSERT_EQ(LastPumpTick, 5120u);
    HeadlessSetTicks(5130);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5150u);
}

TEST(FrameworkTiming, NegativeSpanAlreadyPassedReturnsAtOnceWithoutHandling)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    HeadlessSetTicks(5000);
    WaitTicks(0);
    HeadlessSetTicks(5080);
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5080u);
    EXPECT_EQ(SeenA.calls, 0);
    EXPECT_EQ(FrameMark, 5080u);
    EXPECT_EQ(LastPumpTick, 5080u);
    PumpMessages(); // the message was left in the queue
    EXPECT_EQ(SeenA.calls, 1);
}

TEST(FrameworkTiming, ExactlyTheSpanAfterTheMarkIsAlreadyPassed)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    HeadlessSetTicks(5000);
    WaitTicks(0);
    HeadlessSetTicks(5050);
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 5050u);
    EXPECT_EQ(SeenA.calls, 0);
}

TEST(FrameworkTiming, FirstNegativeWaitOfTheRunReturnsAtOnce)
{
    Start();
    ASSERT_EQ(FrameMark, 0u);
    HeadlessSetTicks(1234567);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 1234567u);
    EXPECT_EQ(FrameMark, 1234567u);
}

TEST(FrameworkTiming, ZeroReturnsAtOnceAndHandlesNothing)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    HeadlessSetTicks(9000);
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(0);
    EXPECT_EQ(PlatformTicks(), 9000u);
    EXPECT_EQ(SeenA.calls, 0);
    EXPECT_EQ(FrameMark, 9000u);
    EXPECT_EQ(LastPumpTick, 9000u);
}

TEST(FrameworkTiming, PositiveSpanCountsFromTheCall)
{
    Start();
    HeadlessSetTicks(5000);
    WaitTicks(0); // FrameMark 5000
    HeadlessSetTicks(5100);
    WaitTicks(30);
    EXPECT_EQ(PlatformTicks(), 5130u);
    EXPECT_EQ(FrameMark, 5130u);
    // A recent mark does not shorten it either.
    HeadlessSetTicks(5135);
    WaitTicks(30);
    EXPECT_EQ(PlatformTicks(), 5165u);
}

TEST(FrameworkTiming, PendingMessagesAreHandledDuringTheWait)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    AddHandler(WM_USER_B, HandlerB);
    HeadlessSetTicks(5000);
    WaitTicks(0);
    PlatformPostMessage(WM_USER_A, 1, 0);
    PlatformPostMessage(WM_USER_B, 2, 0);
    HeadlessSetTicks(5010);
    WaitTicks(-50);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenB.calls, 1);
    EXPECT_EQ(SeenA.ticks, 5010u); // handled as the wait began
    EXPECT_EQ(PlatformTicks(), 5050u);
}

TEST(FrameworkTiming, WorkInsideTheWaitCountsTowardsIt)
{
    Start();
    AddHandler(WM_USER_A, SlowHandler);
    HeadlessSetTicks(5000);
    WaitTicks(0);
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(-50);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(PlatformTicks(), 5050u);

    // A handler that runs past the end leaves the wait ending when it returns.
    PlatformPostMessage(WM_USER_A, 0, 0);
    PlatformPostMessage(WM_USER_A, 0, 0);
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(-50);
    EXPECT_EQ(SeenA.calls, 4);
    EXPECT_EQ(PlatformTicks(), 5110u);
    EXPECT_EQ(FrameMark, 5110u);
}

TEST(FrameworkTiming, TickCounterWrapDuringAWait)
{
    Start();
    AddHandler(WM_USER_A, SlowHandler);
    HeadlessSetTicks(0xFFFFFFF0u);
    WaitTicks(0);
    ASSERT_EQ(FrameMark, 0xFFFFFFF0u);
    // The handler moves the clock across the wrap, from -16 to +4.
    PlatformPostMessage(WM_USER_A, 0, 0);
    WaitTicks(-50);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(SeenA.ticks, 0xFFFFFFF0u);
    EXPECT_EQ(PlatformTicks(), 34u); // 0xFFFFFFF0 + 50
    EXPECT_EQ(FrameMark, 34u);

    // A positive span started just before the wrap.
    HeadlessSetTicks(0xFFFFFFFFu);
    WaitTicks(30);
    EXPECT_EQ(PlatformTicks(), 29u);

    // A negative span whose mark lies before the wrap and whose end already passed.
    HeadlessSetTicks(0xFFFFFFF0u);
    WaitTicks(0);
    HeadlessSetTicks(100);
    WaitTicks(-50);
    EXPECT_EQ(PlatformTicks(), 100u);
}

TEST(FrameworkTiming, PumpEveryPumpsOnlyOnceTheSpanHasPassed)
{
    Start();
    AddHandler(WM_USER_A, HandlerA);
    HeadlessSetTicks(8000);
    ASSERT_EQ(LastPumpTick, 0u);
    PlatformPostMessage(WM_USER_A, 0, 0);
    PumpEvery(100); // never pumped before
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(LastPumpTick, 8000u);

    HeadlessSetTicks(8099);
    PlatformPostMessage(WM_USER_A, 0, 0);
    const int64_t frame = HeadlessFrame();
    PumpEvery(100);
    EXPECT_EQ(SeenA.calls, 1);
    EXPECT_EQ(HeadlessFrame(), frame);
    EXPECT_EQ(LastPumpTick, 8000u);

    HeadlessSetTicks(8100);
    PumpEvery(100);
    EXPECT_EQ(SeenA.calls, 2);
    EXPECT_EQ(LastPumpTick, 8100u);

    // Any pump counts as the last one, and so does a wait.
    HeadlessSetTicks(8150);
    PumpMessages();
    HeadlessSetTicks(8200);
    PlatformPostMessage(WM_USER_A, 0, 0);
    PumpEvery(100);
    EXPECT_EQ(SeenA.calls, 2);
    HeadlessSetTicks(8250);
    PumpEvery(100);
    EXPECT_EQ(SeenA.calls, 3);
}

// ----------------------------------------------------------- ending the run

using FrameworkQuitDeathTest = ::testing::Test;

TEST_F(FrameworkQuitDeathTest, PumpMessagesEndsTheProcessOnQuit)
{
    EXPECT_EXIT(
        {
            Start();
            PlatformPostQuit(0);
            PumpMessages();
            std::exit(5); // not reached: the caller never sees the quit
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FrameworkQuitDeathTest, DestroyPostsTheQuitThatEndsTheProcess)
{
    EXPECT_EXIT(
        {
            Start();
            const int32_t defCalls = HeadlessLastDefCall().count;
            if (WndProc(MainWindow, WM_DESTROY, 0, 0) != 0) std::exit(6);
            if (HeadlessLastDefCall().count != defCalls) std::exit(7);
            PumpMessages();
            std::exit(5);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FrameworkQuitDeathTest, ExitCodeIsTheQuitCode)
{
    EXPECT_EXIT(
        {
            Start();
            PlatformPostQuit(3);
            PumpMessages();
            std::exit(5);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST_F(FrameworkQuitDeathTest, QuitInTheMiddleOfAWaitEndsTheProcessAtOnce)
{
    EXPECT_EXIT(
        {
            Start();
            AddHandler(WM_USER_A, QuitHandler);
            HeadlessSetTicks(5000);
            WaitTicks(0);
            HeadlessSetTicks(5010);
            PlatformPostMessage(WM_USER_A, 0, 0);
            WaitTicks(-50);
            std::exit(5);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FrameworkQuitDeathTest, QuitInsidePumpEveryAndKeyGetEndsTheProcess)
{
    EXPECT_EXIT(
        {
            Start();
            PlatformPostQuit(0);
            PumpEvery(100);
            std::exit(5);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            Start();
            PlatformPostQuit(0);
            KeyGet();
            std::exit(5);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FrameworkQuit, WaitThatHasPassedLeavesAQuitPending)
{
    Start();
    HeadlessSetTicks(5000);
    WaitTicks(0);
    HeadlessSetTicks(5100);
    PlatformPostQuit(0);
    WaitTicks(-50); // returns without removing anything
    EXPECT_EQ(PlatformTicks(), 5100u);
    PlatformMessage msg{};
    ASSERT_TRUE(PlatformPeekMessage(&msg));
    EXPECT_EQ(msg.message, static_cast<uint32_t>(WM_QUIT));
}

// --------------------------------------------------------- painting and copy

TEST(FrameworkPaint, PaintBeforeAnyPaletteLeavesThePaletteAlone)
{
    Start();
    const int32_t realizes = HeadlessRealizeCount();
    const int32_t presents = HeadlessPresentCount();
    EXPECT_EQ(WndProc(MainWindow, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(HeadlessPresentCount(), presents + 1);
}

TEST(FrameworkPaint, PaintRealizesABuiltPalette)
{
    Start();
    BuildBasePalette();
    int32_t realizes = HeadlessRealizeCount();
    WndProc(MainWindow, WM_PAINT, 0, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    // Between PaletteBegin and the first add there is no palette to realize.
    PaletteBegin();
    realizes = HeadlessRealizeCount();
    WndProc(MainWindow, WM_PAINT, 0, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    PaletteAdd(0x112233);
    WndProc(MainWindow, WM_PAINT, 0, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    PaletteRealize();
}

// A surface whose every byte differs from the window's initial 0.
void FillSurfacePattern()
{
    for (int32_t p = 0; p < SurfaceWidth * SurfaceHeight; ++p) SurfaceBits[p] = static_cast<uint8_t>(p % 251 + 1);
}

// Whether the window shows the surface exactly on columns < w and rows < h, and 0 elsewhere.
::testing::AssertionResult WindowShowsBox(int32_t w, int32_t h)
{
    const uint8_t* shown = HeadlessWindowBytes();
    for (int32_t y = 0; y < SurfaceHeight; ++y) {
        for (int32_t x = 0; x < SurfaceWidth; ++x) {
            const int32_t p = y * SurfaceWidth + x;
            const uint8_t expected = (x < w && y < h) ? SurfaceBits[p] : 0;
            if (shown[p] != expected)
                return ::testing::AssertionFailure() << "at " << x << "," << y << ": " << int(shown[p]) << " != " << int(expected);
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(FrameworkPaint, PaintCopiesTheReportedWidthAndAll402Rows)
{
    Start();
    SetMirror(0);
    FillSurfacePattern();
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(100, 50));
    WndProc(MainWindow, WM_PAINT, 0, 0);
    EXPECT_TRUE(WindowShowsBox(100, 402));
}

TEST(FrameworkPaint, CopyToWindowCopiesTheReportedWidthAndHeight)
{
    Start();
    SetMirror(0);
    FillSurfacePattern();
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(100, 50));
    CopyToWindow();
    EXPECT_TRUE(WindowShowsBox(100, 50));
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(336, 402));
    CopyToWindow();
    EXPECT_TRUE(WindowShowsBox(336, 402));
}

TEST(FrameworkPaint, NothingIsCopiedWhileTheClientAreaIsEmpty)
{
    Start();
    SetMirror(0);
    FillSurfacePattern();
    WndProc(MainWindow, WM_SIZE, 0, PackPoint(0, 0));
    CopyToWindow();
    WndProc(MainWindow, WM_PAINT, 0, 0);
    EXPECT_TRUE(WindowShowsBox(0, 0));
}

TEST(FrameworkPaint, UnmirroredPrimitivesLeaveTheWindowUntilCopied)
{
    Start();
    BuildBasePalette();
    SetMirror(0);
    const int32_t presents = HeadlessPresentCount();
    DrawRect(0, 0, 336, 402, 3, PaletteColour(1));
    PutPixel(1, 1, PaletteColour(2));
    DrawLine(0, 5, 100, 5, PaletteColour(3));
    DrawEllipse(50, 50, 150, 120, 3, PaletteColour(4));
    ClearSurface();
    EXPECT_EQ(HeadlessPresentCount(), presents);
    EXPECT_TRUE(WindowShowsBox(0, 0));
    CopyToWindow();
    EXPECT_TRUE(WindowShowsBox(336, 402));
}

// ------------------------------------------------------------- palette messages

TEST(FrameworkPaletteMessages, ChangingFlagIsActedOnByTheNextPump)
{
    Start();
    // No palette yet: nothing to note.
    WndProc(MainWindow, WM_PALETTEISCHANGING, 0, 0);
    EXPECT_EQ(PaletteChanged, 0);
    BuildBasePalette();
    WndProc(MainWindow, WM_PALETTEISCHANGING, 0, 0);
    EXPECT_EQ(PaletteChanged, 1);
    const int32_t realizes = HeadlessRealizeCount();
    PumpMessages();
    EXPECT_EQ(PaletteChanged, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    PumpMessages();
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    // A wait refreshes too.
    WndProc(MainWindow, WM_PALETTEISCHANGING, 0, 0);
    WaitTicks(0);
    EXPECT_EQ(PaletteChanged, 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 2);
}

TEST(FrameworkPaletteMessages, OwnPaletteChangeIsIgnoredOthersRealize)
{
    Start();
    BuildBasePalette();
    const int32_t realizes = HeadlessRealizeCount();
    const uint32_t self = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(MainWindow));
    EXPECT_EQ(WndProc(MainWindow, WM_PALETTECHANGED, self, 0), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes);
    EXPECT_EQ(WndProc(MainWindow, WM_PALETTECHANGED, self + 1000, 0), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
    EXPECT_EQ(WndProc(MainWindow, WM_QUERYNEWPALETTE, 0, 0), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 2);
}

TEST(FrameworkPaletteMessages, QueryNewPaletteRealizesEvenWithoutAPalette)
{
    Start();
    const int32_t realizes = HeadlessRealizeCount();
    EXPECT_EQ(WndProc(MainWindow, WM_QUERYNEWPALETTE, 0, 0), 0);
    EXPECT_EQ(HeadlessRealizeCount(), realizes + 1);
}

// ----------------------------------------------------------------- strings

TEST(FrameworkStrings, SharedBufferHoldsTheLastText)
{
    Start();
    const char* title = LoadResString(4);
    EXPECT_STREQ(title, "Talvo");
    const char* clear = LoadResString(7);
    EXPECT_STREQ(clear, "Clear");
    // The same buffer: the first result now shows the second text.
    EXPECT_EQ(title, clear);
    EXPECT_STREQ(title, "Clear");
    EXPECT_STREQ(LoadResString(4), "Talvo");
}

TEST(FrameworkStrings, UnknownIdGivesTheEmptyText)
{
    Start();
    const char* text = LoadResString(4);
    EXPECT_STREQ(LoadResString(9999), "");
    EXPECT_STREQ(text, "");
    EXPECT_STREQ(LoadResString(0), "");
}

} // namespace
