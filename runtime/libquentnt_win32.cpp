// The Windows side of libquentnt: files, directories, time, the pause and the owner-only
// security attributes of the service's pipes.
#include <direct.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "runtime/product_runtime.h"

namespace {

struct owner_only_sa {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    std::unique_ptr<unsigned char[]> acl;
    std::unique_ptr<unsigned char[]> sid;
};

// The SID of the user that the process token names, copied into owned memory.
std::unique_ptr<unsigned char[]> current_user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> info(new (std::nothrow) unsigned char[size ? size : 1]);
    std::unique_ptr<unsigned char[]> sid;
    if (info && size && GetTokenInformation(token, TokenUser, info.get(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid;
        DWORD sid_size = GetLengthSid(user);
        sid.reset(new (std::nothrow) unsigned char[sid_size]);
        if (sid && !CopySid(sid_size, sid.get(), user)) sid.reset();
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

extern "C" {

unix_nt_file* unix_nt_fopen(const char* name, const char* mode) { return std::fopen(name, mode); }

int unix_nt_fclose(unix_nt_file* file) { return file ? std::fclose(file) : EOF; }

int unix_nt_mkdir(const char* path, int /*mode*/) {
    // The new folder inherits the ACL of the per-user temporary directory, which keeps
    // it to its owner; _mkdir sets errno (EEXIST when it is there already).
    return _mkdir(path);
}

std::int64_t unix_nt_time(std::int64_t* result) {
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (result) *result = now;
    return now;
}

void* nt_owner_security_attributes(std::uint32_t access_mask, int inherit_flag) {
    // Callers keep the pointer for the life of the process and never release it, and the
    // service asks anew for every pipe it creates: one set per argument pair, made once,
    // keeps a long-running service from growing with every connection.
    static std::mutex mutex;
    static std::map<std::pair<std::uint32_t, bool>, owner_only_sa*> made;
    const std::pair<std::uint32_t, bool> key(access_mask, inherit_flag != 0);
    std::lock_guard<std::mutex> lock(mutex);
    if (auto found = made.find(key); found != made.end()) return &found->second->attributes;

    auto* sa = new (std::nothrow) owner_only_sa{};
    if (!sa) return nullptr;
    sa->sid = current_user_sid();
    if (!sa->sid) {
        delete sa;
        return nullptr;
    }
    PSID sid = sa->sid.get();
    DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    acl_size = (acl_size + sizeof(DWORD) - 1) & ~(sizeof(DWORD) - 1);
    sa->acl.reset(new (std::nothrow) unsigned char[acl_size]);
    auto* acl = reinterpret_cast<PACL>(sa->acl.get());
    bool ok = acl && InitializeAcl(acl, acl_size, ACL_REVISION) &&
              AddAccessAllowedAce(acl, ACL_REVISION, access_mask, sid) &&
              InitializeSecurityDescriptor(&sa->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorOwner(&sa->descriptor, sid, FALSE) &&
              SetSecurityDescriptorDacl(&sa->descriptor, TRUE, acl, FALSE) &&
              // Protected: nothing that the parent container grants is added to the list.
              SetSecurityDescriptorControl(&sa->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!ok) {
        delete sa;
        return nullptr;
    }
    sa->attributes.nLength = sizeof sa->attributes;
    sa->attributes.lpSecurityDescriptor = &sa->descriptor;
    sa->attributes.bInheritHandle = inherit_flag ? TRUE : FALSE;
    made.emplace(key, sa);
    return &sa->attributes;
}

}  // extern "C"

void libquentnt::sleep(unsigned seconds) { Sleep(static_cast<DWORD>(seconds) * 1000u); }
