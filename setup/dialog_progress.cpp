// The worker's progress adapter. Reports come from the worker and from
// WinHTTP's threads; each message reaches the dialog thread by a synchronous
// SendMessageW, which under Wine is a round trip through wineserver, so only
// the reports that move the bar are sent.
#include "setup/setup_dialog.hpp"

namespace fenrix {

void progress_t::set_range(unsigned int start, unsigned int end)
{
    bar.set_range(start, end);
    SendMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, progress_bar_end));
}

void progress_t::set(unsigned int value)
{
    unsigned position = 0;
    if (bar.moves(value, position))
        SendMessageW(owner->hwnd, TDM_SET_PROGRESS_BAR_POS, position, 0);
}

bool progress_t::cancel()
{
    return owner->cancel;
}

}  // namespace fenrix
