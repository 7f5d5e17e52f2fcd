// Win32 named pipes. Every pipe is created without overlapped I/O; all calls block.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "platform/pipe.h"
#include "platform/process.h"
#include "runtime/product_runtime.h"

namespace platform {

struct pipe::impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool server = false;
};

namespace {

// How long pipe::open keeps trying a pipe whose instances are all busy.
constexpr ULONGLONG busy_retry_ms = 10000;

// How often wait_named_pipe looks again for a pipe that has no instance yet.
constexpr DWORD absent_pipe_poll_ms = 10;

// What an owner-only pipe grants its owner (FILE_ALL_ACCESS), and the runtime's flag that
// lets the handle be inherited, as the service has always asked; no child is started with
// inherited handles.
constexpr std::uint32_t owner_access = 0x1F01FF;
constexpr int owner_handle_inheritable = 1;

// Multi-instance pipe names this process has created. The first instance of a name is
// created with FILE_FLAG_FIRST_PIPE_INSTANCE so that a pipe that someone else set up first
// is never served; later instances of a multi-instance pipe must not ask for it. A
// single-instance pipe always asks for it and is not recorded, so that the set does not
// grow with the pipe pairs of every connection.
class created_names {
  public:
    bool seen(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        return names_.count(key) != 0;
    }
    void add(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_.insert(key);
    }

  private:
    std::mutex mutex_;
    std::set<std::string> names_;
};

created_names& created() {
    static created_names names;
    return names;
}

// Pipe names are not case-sensitive.
std::string name_key(std::string_view name) {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

DWORD open_mode(pipe_access access) {
    switch (access) {
        case pipe_access::inbound:
            return PIPE_ACCESS_INBOUND;
        case pipe_access::outbound:
            return PIPE_ACCESS_OUTBOUND;
        case pipe_access::duplex:
            break;
    }
    return PIPE_ACCESS_DUPLEX;
}

bool connect_succeeded(HANDLE handle) {
    return ConnectNamedPipe(handle, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

// Bounds ConnectNamedPipe by the life of a watched process and by a time-out. There is no
// simpler way that keeps the pipe as it is created (no overlapped I/O, PIPE_WAIT):
// - an event and one WaitForMultipleObjects on it and the process need FILE_FLAG_OVERLAPPED;
// - PIPE_NOWAIT, set for the wait alone, turns it into a poll, in a mode kept only for old
//   LAN Manager programs;
// - opening the pipe ourselves to wake the call would count as a client's connection.
// So a helper thread waits for the process or the time-out, or for the call to return, and
// cancels the blocked ConnectNamedPipe with CancelSynchronousIo. The cancel is repeated
// every 10 ms until the waiter says it has returned, because it may come before the waiter
// has entered the call (a cancel then finds nothing to cancel); the first one usually
// suffices.
struct connect_watch {
    HANDLE process = nullptr;  // null: only the time-out counts
    DWORD timeout_ms = INFINITE;
    HANDLE waiter = nullptr;      // the thread blocked in ConnectNamedPipe
    HANDLE done = nullptr;        // set once ConnectNamedPipe has returned
    volatile LONG cancelled = 0;  // 1: the process ended; 2: the time-out passed
};

DWORD WINAPI watch_process(void* arg) {
    auto* w = static_cast<connect_watch*>(arg);
    HANDLE both[2] = {w->done, w->process};
    const DWORD woke = WaitForMultipleObjects(w->process ? 2 : 1, both, FALSE, w->timeout_ms);
    if (woke == WAIT_OBJECT_0 + 1) {
        InterlockedExchange(&w->cancelled, 1);
    } else if (woke == WAIT_TIMEOUT) {
        InterlockedExchange(&w->cancelled, 2);
    } else {
        return 0;
    }
    while (WaitForSingleObject(w->done, 0) == WAIT_TIMEOUT) {
        CancelSynchronousIo(w->waiter);
        WaitForSingleObject(w->done, 10);
    }
    return 0;
}

// Whether the peer of h has gone: for a server end, its client closed its end; for a client
// end, the server has gone. A server end may lack read access (outbound), which
// PeekNamedPipe and the state queries need; ConnectNamedPipe on a connected instance returns
// at once: ERROR_PIPE_CONNECTED while the client is there, ERROR_NO_DATA once it has closed
// its end. (On an instance still listening it would wait for a client, and then watch it.)
bool peer_gone(HANDLE h, bool server) {
    if (server) return !ConnectNamedPipe(h, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED;
    return !PeekNamedPipe(h, nullptr, 0, nullptr, nullptr, nullptr);  // ERROR_BROKEN_PIPE
}

// How often a read that watches another pipe looks at that pipe's peer.
constexpr DWORD gone_poll_ms = 50;

// A read that gives up when the peer of another pipe goes. Without overlapped I/O the read
// cannot wait on two things at once, so a helper thread watches the other pipe and cancels
// the blocked ReadFile with CancelSynchronousIo, repeated until the reader says it has
// returned (as connect_watch does).
struct gone_watch {
    HANDLE watched = nullptr;
    bool server = false;
    HANDLE reader = nullptr;  // the thread blocked in ReadFile
    HANDLE done = nullptr;    // set once ReadFile has returned
    volatile LONG gone = 0;
};

DWORD WINAPI watch_peer(void* arg) {
    auto* w = static_cast<gone_watch*>(arg);
    for (;;) {
        if (WaitForSingleObject(w->done, gone_poll_ms) != WAIT_TIMEOUT) return 0;
        if (peer_gone(w->watched, w->server)) break;
    }
    InterlockedExchange(&w->gone, 1);
    while (WaitForSingleObject(w->done, 0) == WAIT_TIMEOUT) {
        CancelSynchronousIo(w->reader);
        WaitForSingleObject(w->done, 10);
    }
    return 0;
}

}  // namespace

pipe pipe::create_server(std::string_view name, const pipe_server_options& options,
                         create_error* error) {
    pipe result;
    if (error) *error = create_error::failed;
    const std::string text(name);
    const std::string key = name_key(name);
    const bool multi_instance = options.max_instances > 1;
    DWORD mode = open_mode(options.access);
    if (!multi_instance || !created().seen(key)) mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    DWORD pipe_mode = options.message_type ? (PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE)
                                           : (PIPE_TYPE_BYTE | PIPE_READMODE_BYTE);
    pipe_mode |= PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    DWORD instances = options.max_instances >= unlimited_instances
                          ? PIPE_UNLIMITED_INSTANCES
                          : static_cast<DWORD>(std::max(options.max_instances, 1));
    SECURITY_ATTRIBUTES* security = nullptr;
    if (options.owner_only) {
        // Asked for anew at each creation and never released: the runtime keeps them.
        security = static_cast<SECURITY_ATTRIBUTES*>(
            nt_owner_security_attributes(owner_access, owner_handle_inheritable));
        // Created without them, the pipe would be open to other users.
        if (!security) return result;
    }
    HANDLE handle = CreateNamedPipeA(text.c_str(), mode, pipe_mode, instances, options.out_buffer,
                                     options.in_buffer, options.default_timeout_ms, security);
    if (handle == INVALID_HANDLE_VALUE) {
        if (error && GetLastError() == ERROR_PIPE_BUSY) *error = create_error::all_instances_busy;
        return result;
    }
    if (error) *error = create_error::none;
    if (multi_instance) created().add(key);
    result.impl_ = new impl{handle, true};
    return result;
}

pipe pipe::open(std::string_view name, pipe_open access) {
    pipe result;
    DWORD rights = 0;
    switch (access) {
        case pipe_open::read:
            rights = GENERIC_READ;
            break;
        case pipe_open::write:
            rights = GENERIC_WRITE;
            break;
        case pipe_open::read_write:
            rights = GENERIC_READ | GENERIC_WRITE;
            break;
    }
    const std::string text(name);
    // Several clients woken by one free instance race for it, and all but one get
    // ERROR_PIPE_BUSY although the server will soon listen again. A Unix socket queues
    // such clients instead; to behave the same, a busy pipe is waited for and tried
    // again, for a bounded time.
    const ULONGLONG deadline = GetTickCount64() + busy_retry_ms;
    HANDLE handle;
    for (;;) {
        handle = CreateFileA(text.c_str(), rights, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        if (!WaitNamedPipeA(text.c_str(), static_cast<DWORD>(deadline - now)) &&
            GetLastError() != ERROR_SEM_TIMEOUT)
            Sleep(10);  // the name vanished for a moment between two instances
    }
    if (handle == INVALID_HANDLE_VALUE) return result;
    result.impl_ = new impl{handle, false};
    return result;
}

bool pipe::valid() const { return impl_ != nullptr; }

connect_status pipe::wait_for_client(const process* watch, std::uint32_t timeout_ms) {
    if (!impl_) return connect_status::failed;
    const bool watching = watch && watch->valid();
    if (!watching && timeout_ms == no_timeout) {
        return connect_succeeded(impl_->handle) ? connect_status::connected
                                                : connect_status::failed;
    }

    connect_watch w;
    w.timeout_ms = timeout_ms == no_timeout ? INFINITE : timeout_ms;
    if (watching) {
        // Our own handle: the watched process object keeps its handle open, so the id
        // cannot have been given to another process meanwhile.
        w.process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(watch->id()));
        if (!w.process && watch->has_ended()) return connect_status::process_ended;
    }
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &w.waiter, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    w.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE helper = (w.waiter && w.done && (w.process || w.timeout_ms != INFINITE))
                        ? CreateThread(nullptr, 0, watch_process, &w, 0, nullptr)
                        : nullptr;

    const bool ok = connect_succeeded(impl_->handle);
    if (w.done) SetEvent(w.done);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    const LONG cancelled = w.cancelled;
    for (HANDLE h : {w.process, w.waiter, w.done})
        if (h) CloseHandle(h);

    if (ok) return connect_status::connected;
    if (cancelled == 1 || (watching && watch->has_ended())) return connect_status::process_ended;
    if (cancelled == 2) return connect_status::timed_out;
    return connect_status::failed;
}

connect_status pipe::wait_for_clients(pipe& a, pipe& b, std::uint32_t timeout_ms) {
    // No pipe of another user gets through the security descriptor: one end after the other.
    const bool bounded = timeout_ms != no_timeout;
    const ULONGLONG deadline = GetTickCount64() + (bounded ? timeout_ms : 0);
    for (pipe* end : {&a, &b}) {
        std::uint32_t left = no_timeout;
        if (bounded) {
            const ULONGLONG now = GetTickCount64();
            left = now >= deadline ? 0 : static_cast<std::uint32_t>(deadline - now);
        }
        const connect_status status = end->wait_for_client(nullptr, left);
        if (status != connect_status::connected) return status;
    }
    return connect_status::connected;
}

bool pipe::set_message_read_mode() {
    if (!impl_) return false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    return SetNamedPipeHandleState(impl_->handle, &mode, nullptr, nullptr) != 0;
}

io_result pipe::read(void* buffer, std::size_t size) {
    if (!impl_) return {io_status::failed, 0};
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x7fffffff));
    DWORD got = 0;
    if (ReadFile(impl_->handle, buffer, want, &got, nullptr)) return {io_status::ok, got};
    if (GetLastError() == ERROR_MORE_DATA) return {io_status::more_data, got};
    return {io_status::failed, got};
}

io_result pipe::read_unless_gone(void* buffer, std::size_t size, pipe& watched,
                                 bool& watched_gone) {
    watched_gone = false;
    DWORD waiting = 0;
    // A message already there is read at once, without a helper.
    if (!impl_ || !watched.impl_ ||
        (PeekNamedPipe(impl_->handle, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0)) {
        return read(buffer, size);
    }
    gone_watch w;
    w.watched = watched.impl_->handle;
    w.server = watched.impl_->server;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &w.reader, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    w.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE helper =
        w.reader && w.done ? CreateThread(nullptr, 0, watch_peer, &w, 0, nullptr) : nullptr;
    const io_result result = read(buffer, size);
    if (w.done) SetEvent(w.done);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    for (HANDLE h : {w.reader, w.done})
        if (h) CloseHandle(h);
    // A read that completed counts even when the peer went meanwhile.
    if (result.status == io_status::failed && w.gone) watched_gone = true;
    return result;
}

std::size_t pipe::message_bytes_left() {
    DWORD left = 0;
    if (!impl_ || !PeekNamedPipe(impl_->handle, nullptr, 0, nullptr, nullptr, &left)) return 0;
    return left;
}

bool pipe::write(std::string_view data) {
    if (!impl_ || data.size() > 0x7fffffff) return false;
    DWORD written = 0;
    if (!WriteFile(impl_->handle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
        return false;
    return written == data.size();
}

bool pipe::write_with_rest_of(pipe& from, std::string_view start) {
    // A message pipe takes a message in one write: gather the rest behind start first.
    std::string whole(start);
    char piece[4096];
    for (;;) {
        const io_result r = from.read(piece, sizeof piece);
        if (r.status == io_status::failed) return false;
        whole.append(piece, r.count);
        if (r.status == io_status::ok) break;
    }
    return write(whole);
}

bool pipe::flush() { return impl_ && FlushFileBuffers(impl_->handle); }

void pipe::disconnect() {
    if (impl_) DisconnectNamedPipe(impl_->handle);
}

bool pipe::wait_for_peer_gone(std::uint32_t timeout_ms) {
    if (!impl_) return true;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (peer_gone(impl_->handle, impl_->server)) return true;
        if (timeout_ms != no_timeout && GetTickCount64() - start >= timeout_ms) return false;
        Sleep(timeout_ms == no_timeout ? 100 : std::min<DWORD>(100, timeout_ms));
    }
}

void pipe::close() {
    if (!impl_) return;
    CloseHandle(impl_->handle);
    delete impl_;
    impl_ = nullptr;
}

bool wait_named_pipe(std::string_view name, std::uint32_t timeout_ms) {
    const std::string text(name);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ULONGLONG spent = GetTickCount64() - start;
        const DWORD left = spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
        // 0 would mean the pipe's own default time-out: 1 is the shortest wait there is.
        if (WaitNamedPipeA(text.c_str(), std::max<DWORD>(left, 1))) return true;
        // WaitNamedPipeA fails at once while no instance exists, as when a service that was
        // just started has not made its pipe yet: look again shortly, up to the time-out, as
        // a socket that is not there yet is waited for on POSIX. Busy instances were waited
        // for by the call itself.
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || left == 0)
            return false;
        Sleep(std::min<DWORD>(absent_pipe_poll_ms, left));
    }
}

bool pipe_is_served(std::string_view name) {
    const std::string text(name);
    if (WaitNamedPipeA(text.c_str(), 1)) return true;
    // Without any instance the wait fails at once (ERROR_FILE_NOT_FOUND); instances that
    // are all busy let it run out.
    const DWORD error = GetLastError();
    return error == ERROR_SEM_TIMEOUT || error == ERROR_PIPE_BUSY;
}

void remove_pipe_files() {}

bool unguessable_pipe_token(std::uint32_t&) { return false; }

std::string pipe_directory() { return {}; }

}  // namespace platform
