#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/file_read.h"
#include "platform/unique_fd_posix.h"

namespace platform {

file_contents read_regular_file(const std::string& path, std::uint64_t limit) {
    file_contents result;
    const auto fail = [&](read_status status) {
        result.status = status;
        if (status == read_status::failed) result.reason = std::strerror(errno);
        std::string().swap(result.data);
        return std::move(result);
    };
    try {
        // Checked before opening: opening a device can itself do something.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return fail(read_status::failed);
        if (!S_ISREG(st.st_mode)) return fail(read_status::not_regular);
        if (static_cast<std::uint64_t>(st.st_size) > limit) return fail(read_status::too_large);
        // Non-blocking: should a FIFO have taken the file's place, opening it must not hang.
        const unique_fd f(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!f.valid() || ::fstat(f.get(), &st) != 0) return fail(read_status::failed);
        if (!S_ISREG(st.st_mode)) return fail(read_status::not_regular);
        result.data.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(f.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(read_status::failed);
            if (n == 0) break;
            // The file may have grown since it was measured.
            if (result.data.size() + static_cast<std::size_t>(n) > limit)
                return fail(read_status::too_large);
            result.data.append(buffer, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        return fail(read_status::out_of_memory);
    }
    result.status = read_status::ok;
    return result;
}

}  // namespace platform
