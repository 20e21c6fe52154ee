// The setup application's only window: a task dialog with a language page
// and a progress page, and the one worker thread that performs the
// installation while the progress page is shown.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "base/progress.hpp"
#include "setup/languages.hpp"
#include "setup/progress_bar.hpp"

namespace fenrix {

// The module whose string and icon resources the dialog pages name.
extern HINSTANCE module_instance;

// Page and worker states.
enum : std::int32_t {
    state_initial = 0,
    state_language_page = 1,
    state_working = 2,
    state_closing = 3,
};

constexpr int first_language_button = 1000;

class setup_dialog {
public:
    setup_dialog(std::uint32_t language_count, const language_entry* language)
        : language_count(language_count), language(language)
    {
    }
    setup_dialog(const setup_dialog&) = delete;
    setup_dialog& operator=(const setup_dialog&) = delete;

    // Shows the dialog until the worker has finished or the user left the
    // language page; returns the exit code. The worker is joined on return.
    std::int32_t run();

    HRESULT on_notification(HWND window, UINT notification, WPARAM wparam, LPARAM lparam);

    HWND hwnd = nullptr;
    std::uint32_t language_count;
    const language_entry* language;
    // Written by the dialog thread and, at the end, by the worker.
    std::atomic<std::int32_t> state{state_initial};
    // Written by the dialog thread, read by the worker and WinHTTP's threads.
    std::atomic<bool> cancel{false};
    std::thread worker;
    std::int32_t result = 0;

private:
    TASKDIALOGCONFIG page_config() const;
    TASKDIALOGCONFIG progress_page() const;
    TASKDIALOGCONFIG language_page();
    void start_worker();
    void work();

    std::vector<TASKDIALOG_BUTTON> language_buttons;
    // The configuration a navigation points the dialog at must outlive it.
    TASKDIALOGCONFIG navigated_page{};
    // A failure inside a notification cannot unwind through the dialog's own
    // frames; it is kept here, the dialog is closed and run() throws it.
    std::exception_ptr notification_failure;
};

// Feeds the dialog's progress bar, which always spans 0 to 1000, and passes
// on the user's Cancel. Positions are posted, and only those that
// progress_bar_feed lets through; a full bar then waits, within a bound, for
// the dialog to take its messages; cancel() reads the flag on every call
// (dialog_progress.cpp).
class progress_t : public progress<unsigned int> {
public:
    explicit progress_t(setup_dialog* owner) : owner(owner) {}

    void set_range(unsigned int start, unsigned int end) override;
    void set(unsigned int value) override;
    bool cancel() override;

    setup_dialog* owner;
    progress_bar_feed bar;
};

}  // namespace fenrix
