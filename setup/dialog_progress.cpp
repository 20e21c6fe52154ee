// The worker's progress adapter. Reports come from the worker and from
// WinHTTP's threads, and reach the dialog thread as posted messages: a
// reporting thread never waits for the dialog, which may itself be waiting
// for the worker (its TDN_DESTROYED joins it) or be busy painting. Only the
// positions that progress_bar_feed lets through are posted, so the dialog
// repaints a few dozen times a second at most.
#include "setup/setup_dialog.hpp"

namespace fenrix {

void progress_t::set_range(unsigned int start, unsigned int end)
{
    bar.set_range(start, end);
    PostMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, progress_bar_end));
}

void progress_t::set(unsigned int value)
{
    unsigned position = 0;
    if (bar.moves(value, GetTickCount(), position))
        PostMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_POS, position, 0);
}

bool progress_t::cancel()
{
    return owner->cancel;
}

}  // namespace fenrix
