// The process entry point: waits a little for the crash reporter's start-up
// sender, picks the language and runs the setup dialog, then gives the sender
// a little more before the process exits; the dialog's result is the exit
// code.
#include <windows.h>

#include <exception>
#include <string>

#include "base/exception_message.hpp"
#include "setup/crash_guard.hpp"
#include "setup/languages.hpp"
#include "setup/setup_dialog.hpp"
#include "setup/string_resource.hpp"
#include "win/strings.hpp"

namespace {

int run_setup()
{
    using namespace fenrix;
    try {
        wait_for_crash_reporter_startup();
        const language_choice choice = choose_language(languages, GetUserDefaultLangID());
        setup_dialog dialog(choice.count, choice.language);
        return dialog.run();
    } catch (const std::exception& e) {
        const std::wstring text = wembra::utf8_to_wide(exception_message(e));
        MessageBoxW(nullptr, text.c_str(), load_string(module_instance, string_title), MB_ICONERROR);
        return -1;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    fenrix::module_instance = instance;
    const int result = run_setup();
    fenrix::finish_crash_reporter_startup();
    return result;
}
