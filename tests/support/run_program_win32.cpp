#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/command_line.h"
#include "tests/support/run_program.h"

namespace test_support {

namespace {

using clock = std::chrono::steady_clock;

bool same_name(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

// This process's environment with extra put in; names match without regard to case, as
// Windows matches them.
std::string environment_block(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> entries;
    if (char* all = GetEnvironmentStringsA()) {
        for (const char* e = all; *e; e += std::strlen(e) + 1) {
            const std::string_view entry(e);
            // Entries such as "=C:=C:\dir" keep the drives' current folders.
            const std::size_t eq = entry.find('=', 1);
            const std::string_view name = entry.substr(0, eq);
            const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& kv) {
                return same_name(kv.first, name);
            });
            if (!replaced) entries.emplace_back(entry);
        }
        FreeEnvironmentStringsA(all);
    }
    for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
    std::string block;
    for (const std::string& e : entries) block.append(e).push_back('\0');
    block.push_back('\0');
    return block;
}

struct started {
    HANDLE process = nullptr;
    DWORD id = 0;
    HANDLE out = nullptr;
    HANDLE err = nullptr;
};

// Handles are made inheritable only under this lock, so that no program that another thread
// starts meanwhile holds a copy of our pipes.
std::mutex spawn_lock;

// Starts argv with standard input from NUL and its output in two pipes of ours.
started spawn(const std::vector<std::string>& argv, const run_options& o) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    std::string command_line = platform::join_command_line_quoted(argv);
    std::string env = environment_block(o.env);
    const char* folder = o.cwd.empty() ? nullptr : o.cwd.c_str();

    std::lock_guard<std::mutex> hold(spawn_lock);
    HANDLE out_r, out_w, err_r, err_w;
    if (!CreatePipe(&out_r, &out_w, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    if (!CreatePipe(&err_r, &err_w, &inherit, 0)) {
        CloseHandle(out_r);
        CloseHandle(out_w);
        throw std::runtime_error("CreatePipe failed");
    }
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out_w;
    startup.hStdError = err_w;
    PROCESS_INFORMATION info{};
    const BOOL ok = CreateProcessA(argv.at(0).c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                   0, env.data(), folder, &startup, &info);
    const DWORD error = GetLastError();
    CloseHandle(out_w);
    CloseHandle(err_w);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!ok) {
        CloseHandle(out_r);
        CloseHandle(err_r);
        throw std::runtime_error("cannot start " + argv[0] + ": error " + std::to_string(error));
    }
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId, out_r, err_r};
}

// Appends what the pipe holds now, without waiting; false once the pipe is broken.
bool drain(HANDLE pipe, std::string& into) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[65536];
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, sizeof buffer);
        if (!ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) return false;
        into.append(buffer, got);
    }
}

int exit_code(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
}

DWORD milliseconds_until(clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock::now()).count();
    return left <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left, INFINITE - 1));
}

}  // namespace

run_result run_program(const std::vector<std::string>& argv, const run_options& o) {
    const started child = spawn(argv, o);
    run_result r;
    const auto end = clock::now() + o.deadline;
    bool killed = false;
    for (;;) {
        drain(child.out, r.out);
        drain(child.err, r.err);
        // What it wrote before its end is still in the pipes: read once more after it.
        if (WaitForSingleObject(child.process, std::min<DWORD>(5, milliseconds_until(end))) ==
            WAIT_OBJECT_0) {
            drain(child.out, r.out);
            drain(child.err, r.err);
            break;
        }
        if (clock::now() >= end) {
            TerminateProcess(child.process, 1);
            WaitForSingleObject(child.process, INFINITE);
            killed = true;
            break;
        }
    }
    r.exit_code = killed ? -1000 : exit_code(child.process);
    CloseHandle(child.out);
    CloseHandle(child.err);
    CloseHandle(child.process);
    return r;
}

struct background_program::handles {
    HANDLE process = nullptr;
    HANDLE out = nullptr;
};

background_program::background_program(const std::vector<std::string>& argv, const run_options& o)
    : handles_(std::make_unique<handles>()) {
    const started child = spawn(argv, o);
    CloseHandle(child.err);
    handles_->process = child.process;
    handles_->out = child.out;
    pid_ = static_cast<int>(child.id);
}

background_program::~background_program() {
    kill();
    CloseHandle(handles_->out);
    CloseHandle(handles_->process);
}

int background_program::wait(std::chrono::milliseconds deadline) {
    if (ended_) return code_;
    const auto end = clock::now() + deadline;
    if (WaitForSingleObject(handles_->process, milliseconds_until(end)) != WAIT_OBJECT_0) {
        return -1000;
    }
    ended_ = true;
    code_ = exit_code(handles_->process);
    return code_;
}

std::string background_program::read_line(std::chrono::milliseconds deadline) {
    const auto end = clock::now() + deadline;
    for (;;) {
        const auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        if (!drain(handles_->out, buffered_) || clock::now() >= end) return "";
        if (buffered_.find('\n') == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void background_program::kill() {
    if (ended_ || !handles_->process) return;
    TerminateProcess(handles_->process, 1);
    WaitForSingleObject(handles_->process, INFINITE);
    ended_ = true;
    code_ = exit_code(handles_->process);
}

}  // namespace test_support
