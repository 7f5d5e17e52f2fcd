#include <objbase.h>
#include <shellapi.h>

#include "platform/process.h"
#include "platform/shell.h"
#include "platform/text_win32.h"

namespace platform {

bool desktop_session() { return true; }

bool open_with_default_application(const std::string& target) {
    const std::wstring wide = wide_from_narrow(target);
    if (wide.empty()) return false;
    // The shell may hand the work to COM objects, which want COM on the calling thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) CoUninitialize();
    return result > 32;
}

bool start_viewer(const std::vector<std::string>& argv) {
    // Shown: a hidden start would hide the browser's window too. Detached, so that it does
    // not share the console of a client that the service started without a window.
    return spawn(argv, {.working_folder = {}, .hidden = false, .detached = true}).valid();
}

}  // namespace platform
