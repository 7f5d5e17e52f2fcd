#include <objbase.h>
#include <shellapi.h>

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

}  // namespace platform
