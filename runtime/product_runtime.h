// The product runtime's calls (libquentks, libquentnt) that the three programs make, as
// the libraries declare them; the stand-in implementations stand beside this header.
#pragma once

#include <cstdint>
#include <cstdio>

/// A message catalogue as the message printer reads it: parallel arrays of
/// texts and message numbers, selected by position.
struct imsg_catalogue {
    const char* name;
    const char* abbreviation;
    std::uint16_t code;
    std::uint16_t count;
    const char* const* texts;
    const std::uint16_t* numbers;
};

/// Handle of unix_nt_fopen.
using unix_nt_file = std::FILE;

extern "C" {

// ---- libquentks ----

/// Prepares the runtime; called first, once. Returns 0.
int ks_system_init(void);

/// Later messages are printed under this name.
void imsg_set_app_name(const char* name);

/// Writes "<app name>: <text of position>\n" to standard error. Returns 0, or
/// -1 for a position outside the catalogue.
int imsg_print(int kind, const imsg_catalogue* table, int position);

/// Writes the product directory (the parent of the folder that holds the
/// running executable, links resolved; no trailing separator) into buf, which
/// holds at least 1024 bytes, and returns buf. flags is always 0.
char* ks_product_dir(char* buf, int flags);

/// Fills buf with the temporary directory (empty when there is none).
int fileutl_get_tmpdir(int flags, char* buf, int size, int reserved);

/// The drive designation ("D:") to put before a rooted name; "" when none.
/// The text stays valid until the next call on the same thread.
const char* fileutl_get_drive(const char* dir);

/// The user's login name; never empty. Owned by the runtime.
const char* sysutl_myloginname(void);

// ---- libquentnt ----

unix_nt_file* unix_nt_fopen(const char* name, const char* mode);
int unix_nt_fclose(unix_nt_file* file);

/// 0 when the directory was created; otherwise non-zero with errno set
/// (EEXIST when it exists already). mode 0 means owner-only.
int unix_nt_mkdir(const char* path, int mode);

/// Current time in seconds.
std::int64_t unix_nt_time(std::int64_t* result);

/// Security attributes that keep a named pipe to the current user. Used as
/// returned, never released.
void* nt_owner_security_attributes(std::uint32_t access_mask, int inherit_flag);
}

namespace libquentnt {

/// libquentnt's pause: the calling thread sleeps for that many seconds. A C++ name in the
/// runtime's own namespace, so that it never meets the C library's sleep of either platform.
void sleep(unsigned seconds);

}  // namespace libquentnt
