#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "common/login_name.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace test_support {

namespace {

// In the process's environment block, which children get, rather than the C runtime's copy.
std::optional<std::string> save_and_set(const char* name, const std::string& value) {
    std::optional<std::string> old;
    char buffer[32768];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) old = std::string(buffer, n);
    SetEnvironmentVariableA(name, value.c_str());
    return old;
}

void restore(const std::string& name, const std::optional<std::string>& old) {
    SetEnvironmentVariableA(name.c_str(), old ? old->c_str() : nullptr);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::string_view program_suffix() { return ".exe"; }

fs::path built_program(std::string_view name) {
    // The build puts every program beside the test binaries.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    return fs::path(self).parent_path() / (std::string(name) + ".exe");
}

sandbox::sandbox() {
    const char* base = std::getenv("VARNEX_TEST_ROOT");
    char temp[MAX_PATH + 1] = {};
    const fs::path parent = base && *base
                                ? fs::path(base)
                                : fs::path(std::string(temp, GetTempPathA(sizeof temp, temp)));
    for (unsigned attempt = 0;; ++attempt) {
        const fs::path candidate =
            parent / ("varnex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(GetTickCount()) + "-" + std::to_string(attempt));
        if (CreateDirectoryA(candidate.string().c_str(), nullptr)) {
            root_ = candidate;
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000) {
            throw std::runtime_error("cannot make a test folder in " + parent.string());
        }
    }
    for (const char* sub : {"tmp", "pipes", "product", "files"}) fs::create_directory(root_ / sub);
    // GetTempPath reads TMP first, then TEMP.
    for (const auto& [name, value] :
         {std::pair{"TMP", tmp_dir().string()}, std::pair{"TEMP", tmp_dir().string()},
          std::pair{"VARNEX_PIPE_DIR", pipe_dir().string()}}) {
        saved_environment_.emplace_back(name, save_and_set(name, value));
    }
}

sandbox::~sandbox() {
    kill_product_processes();
    for (const auto& [name, old] : saved_environment_) restore(name, old);
    std::error_code ec;
    if (!std::getenv("VARNEX_KEEP_TEST_ROOT")) fs::remove_all(root_, ec);
}

fs::path sandbox::user_work_dir() const {
    return tmp_dir() / (common::login_name() + ".trelmerge");
}

void sandbox::kill_product_processes() const {
    // By id: every process whose executable lies in this sandbox's tree.
    const std::string prefix = lower(product_dir().string() + "\\");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        const int id = static_cast<int>(entry.th32ProcessID);
        if (lower(platform::process_executable_path(id)).rfind(prefix, 0) != 0) continue;
        if (HANDLE process =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(process, 1);
            // Its files are free once it has gone.
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

}  // namespace test_support
