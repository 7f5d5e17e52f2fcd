// The owner-only flag of the Win32 pipes, as the pipe's security descriptor shows it.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <aclapi.h>

#include <string>

#include "platform/pipe.h"

namespace {

// Whether the DACL is protected and holds one ACE, allowing all access to the pipe's owner.
bool keeps_to_its_owner(HANDLE pipe) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "GetSecurityInfo: " << GetLastError();
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    void* ace = nullptr;
    const bool kept =
        GetSecurityDescriptorControl(descriptor, &control, &revision) &&
        (control & SE_DACL_PROTECTED) && dacl && dacl->AceCount == 1 && GetAce(dacl, 0, &ace) &&
        static_cast<ACCESS_ALLOWED_ACE*>(ace)->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask == 0x1F01FFu &&
        EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, owner);
    LocalFree(descriptor);
    return kept;
}

TEST(win32_pipe_owner_only, keeps_the_pipe_to_its_owner_or_leaves_the_default) {
    for (const bool owner_only : {true, false}) {
        const std::string name = R"(\\.\pipe\varnex_test\owner_only_)" +
                                 std::to_string(GetCurrentProcessId()) + '_' +
                                 std::to_string(owner_only);
        platform::pipe_server_options options;
        options.owner_only = owner_only;
        platform::pipe server = platform::pipe::create_server(name, options);
        ASSERT_TRUE(server.valid()) << owner_only;
        // The owner gets in, with the right to read the descriptor.
        HANDLE client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE) << owner_only << ": " << GetLastError();
        EXPECT_EQ(keeps_to_its_owner(client), owner_only);
        CloseHandle(client);
    }
}

}  // namespace
