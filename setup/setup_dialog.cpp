#include "setup/setup_dialog.hpp"

#include "base/exception_message.hpp"
#include "setup/crash_guard.hpp"
#include "setup/installation.hpp"
#include "setup/string_resource.hpp"
#include "win/strings.hpp"

namespace fenrix {

HINSTANCE module_instance = nullptr;

// comctl32 reads the configuration packed to single bytes: 96 bytes in a
// 32-bit program, 160 in a 64-bit one.
static_assert(sizeof(TASKDIALOGCONFIG) == (sizeof(void*) == 8 ? 160 : 96), "the task dialog takes the packed layout");

namespace {

HRESULT CALLBACK dialog_callback(HWND window, UINT notification, WPARAM wparam, LPARAM lparam, LONG_PTR reference)
{
    return reinterpret_cast<setup_dialog*>(reference)->on_notification(window, notification, wparam, lparam);
}

}  // namespace

TASKDIALOGCONFIG setup_dialog::page_config() const
{
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hInstance = module_instance;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = MAKEINTRESOURCEW(string_title);
    config.pszMainIcon = MAKEINTRESOURCEW(1);
    config.pfCallback = dialog_callback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
    return config;
}

TASKDIALOGCONFIG setup_dialog::progress_page() const
{
    TASKDIALOGCONFIG config = page_config();
    config.dwFlags = TDF_SHOW_PROGRESS_BAR;
    config.pszMainInstruction = MAKEINTRESOURCEW(string_progress_instruction);
    return config;
}

TASKDIALOGCONFIG setup_dialog::language_page()
{
    language_buttons.clear();
    int default_button = first_language_button;
    for (std::uint32_t i = 0; i < language_count; ++i) {
        language_buttons.push_back({int(first_language_button + i), languages[i].name});
        if (&languages[i] == language)
            default_button = int(first_language_button + i);
    }
    TASKDIALOGCONFIG config = page_config();
    config.dwFlags = TDF_USE_COMMAND_LINKS;
    config.pszMainInstruction = MAKEINTRESOURCEW(string_language_instruction);
    config.cButtons = UINT(language_buttons.size());
    config.pButtons = language_buttons.data();
    config.nDefaultButton = default_button;
    return config;
}

std::int32_t setup_dialog::run()
{
    TASKDIALOGCONFIG config;
    if (language_count < 2) {
        state = state_working;
        config = progress_page();
    } else {
        state = state_language_page;
        config = language_page();
    }
    const HRESULT outcome = TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
    // The dialog may end without TDN_DESTROYED (it failed to build its
    // window); the worker must not outlive run() in any case.
    if (worker.joinable()) {
        cancel = true;
        worker.join();
    }
    if (notification_failure)
        std::rethrow_exception(notification_failure);
    // Wine's task dialog reports success when it could not make its window
    // at all (no display): a dialog that never existed ran no worker, and
    // must not end as "installer started".
    if (FAILED(outcome) || !hwnd)
        return 1603;
    return result;
}

HRESULT setup_dialog::on_notification(HWND window, UINT notification, WPARAM wparam, LPARAM)
{
    try {
        switch (notification) {
        case TDN_CREATED:
            hwnd = window;
            return S_OK;
        case TDN_BUTTON_CLICKED: {
            const auto id = static_cast<int>(wparam);
            if (state == state_language_page && id >= first_language_button &&
                std::uint32_t(id - first_language_button) < language_count) {
                language = &languages[id - first_language_button];
                state = state_working;
                navigated_page = progress_page();
                SendMessageW(hwnd, TDM_NAVIGATE_PAGE, 0, reinterpret_cast<LPARAM>(&navigated_page));
                return S_FALSE;
            }
            if (id == IDCANCEL) {
                cancel = true;
                return state == state_working ? S_FALSE : S_OK;
            }
            return S_OK;
        }
        case TDN_DESTROYED:
            if (worker.joinable()) {
                cancel = true;
                worker.join();
            }
            return S_OK;
        case TDN_DIALOG_CONSTRUCTED:
            if (state == state_working && language && !worker.joinable())
                start_worker();
            return S_OK;
        default:
            return S_OK;
        }
    } catch (...) {
        // Exceptions cannot pass through the dialog's frames. Keep the first
        // failure, let Cancel close the dialog and rethrow it from run().
        if (!notification_failure)
            notification_failure = std::current_exception();
        if (hwnd && notification != TDN_DESTROYED) {
            state = state_closing;
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
        return S_OK;
    }
}

void setup_dialog::start_worker()
{
    worker = std::thread([this] { run_with_crash_filter([this] { work(); }); });
}

void setup_dialog::work()
{
    try {
        progress_t progress(this);
        install(*language, progress);
    } catch (const user_cancelled&) {
        result = 1223;
    } catch (const std::exception& e) {
        const std::wstring text = wembra::utf8_to_wide(exception_message(e));
        MessageBoxW(hwnd, text.c_str(), load_string(module_instance, string_title), MB_ICONERROR);
        result = 1603;
    }
    state = state_closing;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

}  // namespace fenrix
