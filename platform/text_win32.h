// Names between the programs' narrow texts, which are in the system's code page, and the
// wide ones that the W calls take; and the system's words for an error. Windows backends
// only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

/// text (in the code page, CP_ACP) as UTF-16; empty when it is not valid there.
std::wstring wide_from_narrow(std::string_view text);

/// text in the code page; characters it cannot hold become '?'.
std::string narrow_from_wide(std::wstring_view text);

/// The system's message for an error code, without its line end.
std::string system_error_text(DWORD code);

/// Converts a FILETIME (100 ns since 1601) to a count of 100 ns since 1970.
long long unix_time_100ns(const FILETIME& time);

/// Owns a file handle; closes it on destruction.
class unique_handle {
  public:
    explicit unique_handle(HANDLE h) : handle_(h) {}
    ~unique_handle() { close(); }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    /// False when CloseHandle failed.
    bool close() {
        const HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || h == nullptr || CloseHandle(h);
    }

  private:
    HANDLE handle_;
};

/// Writes all of data to handle; false on an error (GetLastError tells).
bool write_all(HANDLE handle, std::string_view data);

}  // namespace platform
