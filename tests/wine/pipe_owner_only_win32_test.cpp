// The owner-only flag of the Win32 pipes: what a pipe's security descriptor lets others do.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <aclapi.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>

#include "platform/pipe.h"

namespace {

// The DACL of a pipe as its client reads it.
struct dacl_seen {
    bool is_protected = false;
    int aces = -1;            // -1: no DACL, everyone may do anything
    bool owner_only = false;  // one ACE, allowing all access to this process's user
};

std::string unique_pipe_name() {
    static std::atomic<int> counter{0};
    return std::string(R"(\\.\pipe\varnex_test\owner_only_)") +
           std::to_string(GetCurrentProcessId()) + '_' + std::to_string(counter++);
}

// The user that this process runs as, in owned memory.
std::unique_ptr<unsigned char[]> own_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> info(new unsigned char[size ? size : 1]);
    std::unique_ptr<unsigned char[]> sid;
    if (size && GetTokenInformation(token, TokenUser, info.get(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid;
        sid.reset(new unsigned char[GetLengthSid(user)]);
        CopySid(GetLengthSid(user), sid.get(), user);
    }
    CloseHandle(token);
    return sid;
}

dacl_seen read_dacl(HANDLE handle) {
    dacl_seen seen;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "GetSecurityInfo failed: " << GetLastError();
        return seen;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        seen.is_protected = (control & SE_DACL_PROTECTED) != 0;
    }
    if (dacl != nullptr) {
        seen.aces = dacl->AceCount;
        void* ace = nullptr;
        const auto sid = own_sid();
        if (dacl->AceCount == 1 && GetAce(dacl, 0, &ace) && sid) {
            const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            seen.owner_only = allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                              allowed->Mask == 0x1F01FFu &&
                              EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid.get());
        }
    }
    LocalFree(descriptor);
    return seen;
}

TEST(win32_pipe_owner_only, keeps_the_pipe_to_its_owner_or_leaves_the_default) {
    const struct {
        bool owner_only;
        bool expect_owner_only;
    } rows[] = {{true, true}, {false, false}};
    for (const auto& r : rows) {
        const std::string name = unique_pipe_name();
        platform::pipe_server_options options;
        options.owner_only = r.owner_only;
        platform::pipe server = platform::pipe::create_server(name, options);
        ASSERT_TRUE(server.valid()) << r.owner_only;
        HANDLE client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE) << "the owner gets in: " << GetLastError();
        const dacl_seen seen = read_dacl(client);
        CloseHandle(client);
        EXPECT_EQ(seen.owner_only, r.expect_owner_only) << r.owner_only << " " << seen.aces;
        EXPECT_EQ(seen.is_protected, r.expect_owner_only) << r.owner_only;
    }
}

}  // namespace
