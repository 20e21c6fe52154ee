// The dialog's progress adapter against a message-only window that records the
// messages it receives. A reporting thread feeds it the way the signed
// download does (signature, then content, block by block, through a
// global_progress) while the window's thread pumps messages, as the dialog
// thread does, or while it waits for the reporting thread without pumping,
// as the dialog thread does when it joins the worker.
#include "setup/setup_dialog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "setup/progress_bar.hpp"
#include "setup/tests/download_reports.hpp"

namespace {

constexpr UINT feed_done = WM_APP + 1;

// What the window has received, in order.
struct bar_messages {
    std::vector<unsigned> positions;
    int ranges = 0;
    int positions_before_range = 0;
};
bar_messages* received = nullptr;

LRESULT CALLBACK bar_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case TDM_SET_PROGRESS_BAR_RANGE:
        EXPECT_EQ(lparam, MAKELPARAM(0, fenrix::progress_bar_end));
        ++received->ranges;
        return 0;
    case TDM_SET_PROGRESS_BAR_POS:
        if (received->ranges == 0)
            ++received->positions_before_range;
        received->positions.push_back(unsigned(wparam));
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

class bar_window {
public:
    bar_window()
    {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = bar_window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"lumora_test_progress_bar";
        RegisterClassW(&window_class);
        hwnd = CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                               window_class.hInstance, nullptr);
    }
    ~bar_window() { DestroyWindow(hwnd); }

    // Pumps this thread's messages until the feeding thread says it is done.
    bool pump_until_done()
    {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        for (;;) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == feed_done)
                    return true;
                DispatchMessageW(&message);
            }
            if (GetTickCount64() >= deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        }
    }

    HWND hwnd = nullptr;
};

using download_reports::download_case;

class dialog_progress : public ::testing::TestWithParam<download_case> {};

// Runs `feed` on a thread of its own while this thread pumps the window's
// messages, so that every report crosses threads as in the program.
template <class Feed>
void feed_from_another_thread(bar_window& window, Feed feed)
{
    const DWORD pumping_thread = GetCurrentThreadId();
    std::thread reporter([&] {
        feed();
        PostThreadMessageW(pumping_thread, feed_done, 0, 0);
    });
    const bool done = window.pump_until_done();
    reporter.join();
    ASSERT_TRUE(done) << "the reporting thread did not finish within 60 s";
}

struct adapter_fixture {
    bar_messages messages;
    bar_window window;
    fenrix::setup_dialog dialog{0, nullptr};
    fenrix::progress_t adapter{&dialog};

    adapter_fixture()
    {
        received = &messages;
        dialog.hwnd = window.hwnd;
    }
};

TEST_P(dialog_progress, unpaced_posts_a_position_only_when_the_bar_moves)
{
    const download_case& c = GetParam();
    adapter_fixture f;
    ASSERT_NE(f.window.hwnd, nullptr);
    f.adapter.bar.min_interval_ms = 0;
    feed_from_another_thread(f.window, [&] { download_reports::feed(f.adapter, c); });

    EXPECT_EQ(f.messages.ranges, 1);
    EXPECT_EQ(f.messages.positions_before_range, 0);
    EXPECT_LE(f.messages.positions.size(), std::size_t(fenrix::progress_bar_end + 1));
    // Every movement an unthrottled adapter would have shown, and no other.
    EXPECT_EQ(f.messages.positions, download_reports::distinct_positions(c));
    ASSERT_FALSE(f.messages.positions.empty());
    EXPECT_EQ(f.messages.positions.back(), fenrix::progress_bar_end);
}

TEST_P(dialog_progress, at_its_pace_posts_some_movements_and_always_the_end)
{
    const download_case& c = GetParam();
    adapter_fixture f;
    ASSERT_NE(f.window.hwnd, nullptr);
    const ULONGLONG started = GetTickCount64();
    feed_from_another_thread(f.window, [&] { download_reports::feed(f.adapter, c); });
    const ULONGLONG elapsed = GetTickCount64() - started;

    EXPECT_EQ(f.messages.ranges, 1);
    const std::vector<unsigned> every = download_reports::distinct_positions(c);
    ASSERT_FALSE(f.messages.positions.empty());
    EXPECT_EQ(f.messages.positions.front(), every.front());
    EXPECT_EQ(f.messages.positions.back(), fenrix::progress_bar_end);
    auto from = every.begin();
    for (unsigned position : f.messages.positions) {
        from = std::find(from, every.end(), position);
        ASSERT_NE(from, every.end()) << "position " << position << " out of order or never reached";
    }
    // One position per interval of the feed's time, besides the first and the end.
    EXPECT_LE(f.messages.positions.size(),
              std::size_t(elapsed / fenrix::progress_bar_feed::default_min_interval_ms + 3));
}

INSTANTIATE_TEST_SUITE_P(downloads, dialog_progress, ::testing::ValuesIn(download_reports::cases),
                         [](const ::testing::TestParamInfo<download_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(dialog_progress_range, a_new_range_is_always_sent_and_its_first_position_too)
{
    adapter_fixture f;
    ASSERT_NE(f.window.hwnd, nullptr);
    feed_from_another_thread(f.window, [&] {
        f.adapter.set_range(0, 1000);
        f.adapter.set(1000);
        f.adapter.set(1000);
        f.adapter.set_range(0, 1000);  // the dialog may have been navigated meanwhile
        f.adapter.set(1000);
        f.adapter.set_range(0, 2000);
        f.adapter.set(1000);
        f.adapter.set(1001);
    });
    EXPECT_EQ(f.messages.ranges, 3);
    EXPECT_EQ(f.messages.positions, (std::vector<unsigned>{1000, 1000, 500}));
}

TEST(dialog_progress_threads, a_reporting_thread_does_not_wait_for_a_dialog_that_takes_no_message)
{
    // The dialog thread joins the worker in TDN_DESTROYED and pumps no
    // message meanwhile: a report that waited for the dialog to take it
    // would never return, and the worker never end. Only the full bar waits
    // for the dialog, and within a bound.
    adapter_fixture f;
    ASSERT_NE(f.window.hwnd, nullptr);
    f.adapter.bar.min_interval_ms = 0;
    const download_case& c = download_reports::cases[0];
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(finished, nullptr);
    const DWORD window_thread = GetCurrentThreadId();
    std::thread reporter([&] {
        download_reports::feed(f.adapter, c);
        SetEvent(finished);
        PostThreadMessageW(window_thread, feed_done, 0, 0);
    });
    const DWORD waited = WaitForSingleObject(finished, 60000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the reporting thread waited for the window's thread";
    // Now the window takes what was left for it, in order.
    const bool done = f.window.pump_until_done();
    reporter.join();
    CloseHandle(finished);
    ASSERT_TRUE(done);
    EXPECT_EQ(f.messages.ranges, 1);
    EXPECT_EQ(f.messages.positions_before_range, 0);
    EXPECT_EQ(f.messages.positions, download_reports::distinct_positions(c));
}

TEST(dialog_progress_cancel, is_seen_at_the_next_poll)
{
    adapter_fixture f;
    ASSERT_NE(f.window.hwnd, nullptr);
    std::vector<std::uint64_t> cancelled;
    // Block 70000 of 131072 lies inside a run of blocks with one bar position.
    feed_from_another_thread(f.window, [&] {
        cancelled = download_reports::feed(f.adapter, download_reports::cases[0], [&](std::uint64_t block) {
            if (block == 70000)
                f.dialog.cancel = true;
        });
    });
    ASSERT_FALSE(cancelled.empty());
    EXPECT_EQ(cancelled.front(), 70000u);
    EXPECT_EQ(cancelled.size(), 131072u - 70000u);
}

}  // namespace
