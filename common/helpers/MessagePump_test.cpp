#include "BackgroundWork.h"
#include "Handles.h"
#include "MessagePump.h"
#include <gtest/gtest.h>
#include <thread>

using tv::com::UniqueHandle;

namespace {

const UINT kPing = WM_APP + 1;
int g_pings = 0;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kPing) {
        ++g_pings;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

class MessageWindow {
public:
    MessageWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TvPumpTestWindow";
        RegisterClassW(&wc);
        hwnd_.Reset(CreateWindowW(L"TvPumpTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr));
    }
    HWND Get() const { return hwnd_.Get(); }

private:
    tv::com::UniqueWindow hwnd_;
};

void DrainQuit() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

} // namespace

TEST(WaitWithMessagePump, DispatchesMessagesUntilTheHandleIsSignalled) {
    MessageWindow window;
    ASSERT_NE(nullptr, window.Get());
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_pings = 0;
    HWND target = window.Get();
    HANDLE raw = event.Get();
    std::thread poster([target, raw] {
        for (int i = 0; i < 5; ++i) {
            PostMessageW(target, kPing, 0, 0);
            Sleep(20);
        }
        SetEvent(raw);
    });
    EXPECT_TRUE(tv::WaitWithMessagePump(event.Get(), 10000));
    poster.join();
    EXPECT_EQ(5, g_pings);
}

TEST(WaitWithMessagePump, TimesOutWithMessagesArrivingMeanwhile) {
    MessageWindow window;
    UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_pings = 0;
    HWND target = window.Get();
    std::thread poster([target] {
        for (int i = 0; i < 10; ++i) {
            PostMessageW(target, kPing, 0, 0);
            Sleep(30);
        }
    });
    const DWORD started = GetTickCount();
    EXPECT_FALSE(tv::WaitWithMessagePump(never.Get(), 500));
    const DWORD elapsed = GetTickCount() - started;
    poster.join();
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_GT(g_pings, 0) << "the window stayed responsive";
}

TEST(WaitWithMessagePump, AQuitEndsTheWaitAndIsPostedAgain) {
    UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DrainQuit();
    PostQuitMessage(7);
    EXPECT_FALSE(tv::WaitWithMessagePump(never.Get(), 5000));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was swallowed";
    EXPECT_EQ(7u, msg.wParam);
}

TEST(WaitWithMessagePump, AnAlreadySignalledHandleReturnsAtOnce) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_TRUE(tv::WaitWithMessagePump(event.Get(), 0));
    EXPECT_TRUE(tv::WaitWithMessagePump(event.Get(), INFINITE));
}

TEST(WaitForThreadWithPump, ReturnsWhenTheThreadEndsAndServesMessages) {
    MessageWindow window;
    g_pings = 0;
    HWND target = window.Get();
    DWORD mainThread = GetCurrentThreadId();
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* param) -> DWORD {
            HWND hwnd = static_cast<HWND>(param);
            // A cross-thread SendMessage only returns once the waiting thread dispatches it.
            SendMessageW(hwnd, kPing, 0, 0);
            return 0;
        },
        target, 0, nullptr);
    (void)mainThread;
    UniqueHandle owned(thread);
    EXPECT_TRUE(tv::WaitForThreadWithPump(owned.Get()));
    EXPECT_EQ(1, g_pings);
}

// A window whose message, sent from another thread, asks the waiting thread's loop to end, as
// a command handled during the wait does.
const UINT kQuitAsked = WM_APP + 2;

LRESULT CALLBACK QuittingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kQuitAsked) {
        PostQuitMessage(static_cast<int>(wp));
        return 0;
    }
    return CountingProc(hwnd, msg, wp, lp);
}

TEST(WaitForThreadWithPump, AQuitAskedMeanwhileKeepsTheWaitAndIsPostedAgainAtItsEnd) {
    DrainQuit();
    WNDCLASSW wc{};
    wc.lpfnWndProc = QuittingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TvPumpQuitWindow";
    RegisterClassW(&wc);
    tv::com::UniqueWindow window(
        CreateWindowW(L"TvPumpQuitWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
    ASSERT_TRUE(window);
    g_pings = 0;
    UniqueHandle owned(CreateThread(
        nullptr, 0,
        [](void* param) -> DWORD {
            HWND hwnd = static_cast<HWND>(param);
            SendMessageW(hwnd, kQuitAsked, 9, 0);
            Sleep(300);
            // The waiting thread still serves its windows after the quit.
            SendMessageW(hwnd, kPing, 0, 0);
            Sleep(300);
            return 0;
        },
        window.Get(), 0, nullptr));
    ASSERT_TRUE(owned);
    EXPECT_TRUE(tv::WaitForThreadWithPump(owned.Get()));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(owned.Get(), 0)) << "waited to the end";
    EXPECT_EQ(1, g_pings);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was swallowed";
    EXPECT_EQ(9u, msg.wParam);
}

TEST(WaitWithMessagePump, AMutexLeftByAnEndedOwnerIsTakenOnce) {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    HANDLE raw = mutex.Get();
    std::thread owner([raw] { WaitForSingleObject(raw, 0); }); // ends without releasing it
    owner.join();
    EXPECT_TRUE(tv::WaitWithMessagePump(mutex.Get(), 5000));
    EXPECT_TRUE(ReleaseMutex(mutex.Get()));
    EXPECT_FALSE(ReleaseMutex(mutex.Get())) << "owned exactly once";
    std::thread other([raw] {
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(raw, 0)) << "free for others again";
        ReleaseMutex(raw);
    });
    other.join();
}

// Work run beside the caller's: the caller's window keeps answering while it waits, so that
// work which needs the caller's thread (a call into its apartment, a message) cannot deadlock it.
TEST(BackgroundWork, TheCallersMessagesFlowWhileItWaitsAndTheWorkHasEndedAfterwards) {
    MessageWindow window;
    ASSERT_NE(window.Get(), nullptr);
    g_pings = 0;
    LRESULT answered = 0;
    bool ended = false;
    {
        tv::BackgroundWork work([&] {
            DWORD_PTR result = 0;
            answered = SendMessageTimeoutW(window.Get(), kPing, 0, 0, SMTO_BLOCK, 10000, &result);
            Sleep(50);
            ended = true;
        });
        work.Wait();
        EXPECT_TRUE(ended);
    }
    EXPECT_NE(answered, 0) << "the caller's window did not answer during the wait";
    EXPECT_EQ(g_pings, 1);
    // Work that is never waited for explicitly is waited for when it goes.
    ended = false;
    { tv::BackgroundWork work([&] { Sleep(50); ended = true; }); }
    EXPECT_TRUE(ended);
}
