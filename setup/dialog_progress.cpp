// The worker's progress adapter. Reports come from the worker and from
// WinHTTP's threads, and reach the dialog thread as posted messages: a
// reporting thread does not wait for the dialog, which may itself be waiting
// for the worker (its TDN_DESTROYED joins it) or be busy painting. Only the
// positions that progress_bar_feed lets through are posted, so the dialog
// repaints a few dozen times a second at most.
#include "setup/setup_dialog.hpp"

namespace fenrix {

namespace {

// How long a full bar waits for a dialog that takes no message.
constexpr UINT full_bar_wait_ms = 500;

}  // namespace

void progress_t::set_range(unsigned int start, unsigned int end)
{
    bar.set_range(start, end);
    PostMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, progress_bar_end));
}

void progress_t::set(unsigned int value)
{
    unsigned position = 0;
    if (!bar.moves(value, GetTickCount(), position))
        return;
    PostMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_POS, position, 0);
    if (position != progress_bar_end)
        return;
    // A full bar is shown before the work goes on. What follows it (the
    // installer's start, the next download's range) is posted so soon after
    // that a dialog thread lagging behind on a busy machine took both at once
    // and never painted the full bar. A sent message is taken at the dialog's
    // next look at its queue, ahead of what is posted; once it returns, the
    // dialog thread is in its message loop and drains the posted positions at
    // once. No answer within the bound is no harm: the dialog is then joining
    // this thread, or hung, and the bar no longer matters.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(owner->hwnd, WM_NULL, 0, 0, SMTO_NORMAL, full_bar_wait_ms, &ignored);
}

bool progress_t::cancel()
{
    return owner->cancel;
}

}  // namespace fenrix
