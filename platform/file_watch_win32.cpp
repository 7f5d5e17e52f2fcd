// Change notifications for the folders. Windows has no stop request that a console program
// without a window can catch, so none is offered.
#include <windows.h>

#include <vector>

#include "platform/file_watch.h"

namespace platform {

std::optional<file_identity> identify_file(const std::string& path) {
    // No access asked for: enough to read the file's information, even of a running program.
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return file_identity{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

struct change_watch::impl {
    std::vector<HANDLE> folders;
};

change_watch::change_watch() : impl_(new impl) {}

change_watch::~change_watch() {
    for (HANDLE h : impl_->folders) FindCloseChangeNotification(h);
    delete impl_;
}

bool change_watch::add_folder(const std::string& folder) {
    if (impl_->folders.size() >= MAXIMUM_WAIT_OBJECTS) return false;
    HANDLE h = FindFirstChangeNotificationA(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (h == INVALID_HANDLE_VALUE) return false;
    impl_->folders.push_back(h);
    return true;
}

bool change_watch::catch_stop_request() { return false; }

change_watch::event change_watch::wait(std::uint32_t timeout_ms) {
    const DWORD limit = timeout_ms == no_change_timeout ? INFINITE : timeout_ms;
    if (impl_->folders.empty()) {
        if (limit != INFINITE) Sleep(limit);
        return event::timed_out;
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(impl_->folders.size()),
                                                impl_->folders.data(), FALSE, limit);
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + impl_->folders.size()) {
        FindNextChangeNotification(impl_->folders[result - WAIT_OBJECT_0]);
        return event::changed;
    }
    if (result == WAIT_FAILED && limit != INFINITE) Sleep(limit);
    return event::timed_out;
}

}  // namespace platform
