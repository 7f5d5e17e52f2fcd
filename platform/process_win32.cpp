// Win32 processes: CreateProcessA, process handles and the process status interface.
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"

namespace platform {

struct process::impl {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

namespace {

// CreateProcessA may write into its command line: give it a writable, terminated copy.
std::vector<char> writable_copy(std::string_view text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

}  // namespace

struct process_access {
    static process make(const PROCESS_INFORMATION& info) {
        CloseHandle(info.hThread);
        process p;
        p.impl_ = new process::impl{info.hProcess, info.dwProcessId};
        return p;
    }
};

process::~process() {
    if (impl_) {
        CloseHandle(impl_->handle);
        delete impl_;
    }
}

process::process(process&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }

process& process::operator=(process&& other) noexcept {
    if (this != &other) {
        process gone(std::move(*this));
        impl_ = other.impl_;
        other.impl_ = nullptr;
    }
    return *this;
}

bool process::valid() const { return impl_ != nullptr; }

int process::id() const { return impl_ ? static_cast<int>(impl_->id) : 0; }

bool process::has_ended() const {
    return !impl_ || WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0;
}

std::optional<int> process::wait_for_exit(std::chrono::milliseconds timeout) const {
    if (!impl_) return std::nullopt;
    auto ms = timeout.count() < 0 ? 0 : timeout.count();
    DWORD wait = ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
    if (WaitForSingleObject(impl_->handle, wait) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(impl_->handle, &code)) return std::nullopt;
    return static_cast<int>(code);
}

process spawn(const std::vector<std::string>& argv, const spawn_options& options) {
    if (argv.empty() || argv[0].empty()) return {};
    return spawn_command_line(join_command_line_quoted(argv), options);
}

process spawn_command_line(std::string_view command_line, const spawn_options& options) {
    std::vector<char> line = writable_copy(command_line);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    DWORD flags = 0;
    if (options.hidden) {
        // A console of its own without a window: detached from ours as well.
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        flags = CREATE_NO_WINDOW;
    } else if (options.detached) {
        flags = DETACHED_PROCESS;
    }
    // The folder is the child's alone; the program is still found from our directory.
    const char* folder = options.working_folder.empty() ? nullptr : options.working_folder.c_str();
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, folder,
                        &startup, &info))
        return {};
    return process_access::make(info);
}

std::optional<int> run_and_wait(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char> line = writable_copy(join_command_line(argv));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return std::nullopt;
    process child = process_access::make(info);
    return child.wait_for_exit(std::chrono::milliseconds(INFINITE - 1));
}

std::string process_executable_path(int pid) {
    HANDLE handle =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
    if (!handle) return {};
    char buf[1024] = {};
    GetModuleFileNameExA(handle, nullptr, buf, sizeof buf);
    CloseHandle(handle);
    return buf;
}

int current_process_id() { return static_cast<int>(GetCurrentProcessId()); }

void reap_children_automatically() {}

std::string current_directory() {
    DWORD size = GetCurrentDirectoryA(0, nullptr);
    if (size == 0) return {};
    std::string dir(size, '\0');
    DWORD n = GetCurrentDirectoryA(size, dir.data());
    if (n == 0 || n >= size) return {};
    dir.resize(n);
    return dir;
}

}  // namespace platform
