// The Win32 pipes, processes, files and runtime calls, run under Windows or wine. What the
// end-to-end wine suite already drives through the real programs is not repeated here.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "runtime/product_runtime.h"
#include "tests/helpers/record_argv.h"

namespace {

using namespace std::chrono_literals;
using platform::connect_status;
using platform::io_status;
using platform::pipe;
using platform::pipe_access;
using platform::pipe_open;

// A name no other test (or test run) uses.
std::string unique_pipe_name(const char* what) {
    static std::atomic<int> counter{0};
    return std::string(R"(\\.\pipe\varnex_test\)") + what + '_' +
           std::to_string(GetCurrentProcessId()) + '_' + std::to_string(counter++);
}

platform::pipe_server_options options(pipe_access access, int instances = 1) {
    platform::pipe_server_options o;
    o.access = access;
    o.max_instances = instances;
    return o;
}

std::string temp_folder(const char* what) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    std::string dir =
        std::string(base) + "varnex_" + what + "_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string own_path() {
    char own[1024] = {};
    GetModuleFileNameA(nullptr, own, sizeof own);
    return own;
}

platform::spawn_options hidden_and_detached() {
    platform::spawn_options o;
    o.hidden = true;
    o.detached = true;
    return o;
}

// The helper that records its argv and exits at once; built next to this program.
std::string record_argv_path() {
    const std::string own = own_path();
    return own.substr(0, own.rfind('\\')) + "\\record_argv.exe";
}

TEST(win32_pipe, messages_keep_their_bounds_and_long_ones_arrive_with_more_data) {
    const std::string name = unique_pipe_name("messages");
    auto o = options(pipe_access::inbound);
    o.owner_only = true;  // the owner gets in
    pipe server = pipe::create_server(name, o);
    ASSERT_TRUE(server.valid());
    auto connected = std::async(std::launch::async, [&] { return server.wait_for_client(); });
    pipe client = pipe::open(name, pipe_open::write);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(connected.get(), connect_status::connected);
    // Written and closed on a thread: a message longer than the buffer blocks its writer.
    auto written = std::async(std::launch::async, [&] {
        const bool ok =
            client.write("first") && client.write(std::string(6000, 'x')) && client.write("second");
        client.close();
        return ok;
    });
    const struct {
        io_status status;
        std::string text;
    } reads[] = {{io_status::ok, "first"},
                 {io_status::more_data, std::string(4095, 'x')},
                 {io_status::ok, std::string(6000 - 4095, 'x')},
                 {io_status::ok, "second"}};
    char buf[4095];
    for (const auto& expected : reads) {
        const auto r = server.read(buf, sizeof buf);
        EXPECT_EQ(r.status, expected.status) << expected.text.substr(0, 10);
        EXPECT_EQ(std::string(buf, r.count), expected.text);
    }
    EXPECT_EQ(server.read(buf, sizeof buf).status, io_status::failed);
    EXPECT_TRUE(written.get());
}

TEST(win32_pipe, only_a_multi_instance_name_in_use_can_be_created_again) {
    const struct {
        int instances;
        bool second_created;
    } cases[] = {{1, false}, {platform::unlimited_instances, true}};
    for (const auto& c : cases) {
        const std::string name = unique_pipe_name("instances");
        pipe first = pipe::create_server(name, options(pipe_access::duplex, c.instances));
        ASSERT_TRUE(first.valid()) << c.instances;
        EXPECT_EQ(pipe::create_server(name, options(pipe_access::duplex, c.instances)).valid(),
                  c.second_created)
            << c.instances;
        first.close();
        EXPECT_TRUE(pipe::create_server(name, options(pipe_access::duplex, c.instances)).valid())
            << "once closed, " << c.instances;
    }
}

TEST(win32_pipe, creation_tells_busy_instances_and_a_client_wait_ends_at_its_time_out) {
    const std::string name = unique_pipe_name("busy");
    pipe first = pipe::create_server(name, options(pipe_access::duplex, 2));
    pipe second = pipe::create_server(name, options(pipe_access::duplex, 2));
    ASSERT_TRUE(first.valid() && second.valid());
    platform::create_error error = platform::create_error::none;
    EXPECT_FALSE(pipe::create_server(name, options(pipe_access::duplex, 2), &error).valid());
    EXPECT_EQ(error, platform::create_error::all_instances_busy);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(first.wait_for_client(nullptr, 50), connect_status::timed_out);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    pipe client = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(client.valid());
    // The first instance's cancelled wait leaves it listening; one of the two takes the
    // client.
    EXPECT_TRUE(first.wait_for_client(nullptr, 5000) == connect_status::connected ||
                second.wait_for_client(nullptr, 5000) == connect_status::connected);
}

TEST(win32_pipe, a_message_tells_what_is_left_and_passes_on_whole) {
    const std::string in_name = unique_pipe_name("in"), out_name = unique_pipe_name("out");
    pipe in_server = pipe::create_server(in_name, options(pipe_access::inbound));
    pipe out_server = pipe::create_server(out_name, options(pipe_access::outbound));
    auto source = std::async(std::launch::async, [&] {
        pipe p = pipe::open(in_name, pipe_open::write);
        return p.valid() && p.write(std::string(10000, 's'));
    });
    auto sink = std::async(std::launch::async, [&] {
        pipe p = pipe::open(out_name, pipe_open::read);
        std::string got;
        if (!p.valid() || !p.set_message_read_mode()) return got;
        char buf[4096];
        for (;;) {
            const auto r = p.read(buf, sizeof buf);
            got.append(buf, r.count);
            if (r.status != io_status::more_data) return got;
        }
    });
    ASSERT_EQ(in_server.wait_for_client(), connect_status::connected);
    ASSERT_EQ(out_server.wait_for_client(), connect_status::connected);
    char first[1000];
    ASSERT_EQ(in_server.read(first, sizeof first).status, io_status::more_data);
    EXPECT_EQ(in_server.message_bytes_left(), 9000u);
    EXPECT_TRUE(out_server.write_with_rest_of(in_server, "head:" + std::string(first, 1000)));
    EXPECT_TRUE(source.get());
    EXPECT_EQ(sink.get(), "head:" + std::string(10000, 's'));
}

TEST(win32_pipe, a_name_that_someone_else_created_first_is_not_served) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        GTEST_SKIP() << "wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE";
    }
    const std::string name = unique_pipe_name("squatted");
    // Created behind the backend's back, as another program would.
    HANDLE squatter = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 5000, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    auto o = options(pipe_access::duplex, platform::unlimited_instances);
    EXPECT_FALSE(pipe::create_server(name, o).valid());
    CloseHandle(squatter);
    EXPECT_TRUE(pipe::create_server(name, o).valid());
}

TEST(win32_pipe, wait_for_client_gives_up_when_the_watched_process_ends) {
    auto server = std::make_shared<pipe>(
        pipe::create_server(unique_pipe_name("watched"), options(pipe_access::outbound)));
    ASSERT_TRUE(server->valid());
    auto child = std::make_shared<platform::process>(
        platform::spawn({record_argv_path()}, hidden_and_detached()));
    ASSERT_TRUE(child->valid());
    // On a thread of its own, left behind should the wait hang, so that the run goes on.
    auto result = std::make_shared<std::promise<connect_status>>();
    auto status = result->get_future();
    std::thread([=] { result->set_value(server->wait_for_client(child.get())); }).detach();
    ASSERT_EQ(status.wait_for(20s), std::future_status::ready) << "wait_for_client hung";
    EXPECT_EQ(status.get(), connect_status::process_ended);
    EXPECT_EQ(child->wait_for_exit(20s), 0);
    EXPECT_TRUE(child->has_ended());
}

TEST(win32_pipe, the_writer_of_an_outbound_pipe_sees_its_reader_go) {
    const std::string name = unique_pipe_name("reader_gone");
    auto server = std::make_shared<pipe>(pipe::create_server(name, options(pipe_access::outbound)));
    pipe client = pipe::open(name, pipe_open::read);
    ASSERT_TRUE(client.valid());
    // The client came before the wait: that counts as connected.
    ASSERT_EQ(server->wait_for_client(), connect_status::connected);
    auto gone = std::make_shared<std::promise<void>>();
    auto noticed = gone->get_future();
    std::thread([server, gone] {
        server->wait_for_peer_gone();
        gone->set_value();
    }).detach();
    EXPECT_EQ(noticed.wait_for(300ms), std::future_status::timeout)
        << "returned while the reader was still there";
    EXPECT_TRUE(server->write("still there"));
    client.close();
    EXPECT_EQ(noticed.wait_for(20s), std::future_status::ready) << "did not notice the reader go";
}

TEST(win32_pipe, a_busy_server_is_served_and_a_pair_wait_that_timed_out_is_taken_up_again) {
    const std::string a = unique_pipe_name("pair_a"), b = unique_pipe_name("pair_b");
    EXPECT_FALSE(platform::pipe_is_served(a));
    pipe server_a = pipe::create_server(a, options(pipe_access::outbound));
    pipe server_b = pipe::create_server(b, options(pipe_access::inbound));
    EXPECT_TRUE(platform::pipe_is_served(a));
    EXPECT_EQ(pipe::wait_for_clients(server_a, server_b, 50), connect_status::timed_out);
    pipe client_a = pipe::open(a, pipe_open::read);
    pipe client_b = pipe::open(b, pipe_open::write);
    ASSERT_TRUE(client_a.valid() && client_b.valid());
    EXPECT_EQ(pipe::wait_for_clients(server_a, server_b, 5000), connect_status::connected);
    // Its one instance taken, the name is busy, and served all the same.
    EXPECT_FALSE(platform::wait_named_pipe(a, 1));
    EXPECT_TRUE(platform::pipe_is_served(a));
}

TEST(win32_pipe, a_wait_takes_up_a_pipe_that_appears_before_its_time_out) {
    struct row {
        const char* what;
        int appears_after_ms;  // -1: never
        std::uint32_t wait_ms;
        bool available;
    };
    for (const row r : {row{"a pipe made during the wait", 200, 10000, true},
                        row{"a pipe that never comes", -1, 300, false}}) {
        SCOPED_TRACE(r.what);
        const std::string name = unique_pipe_name("appears");
        pipe server;
        auto maker = std::async(std::launch::async, [&] {
            if (r.appears_after_ms < 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(r.appears_after_ms));
            server = pipe::create_server(name, options(pipe_access::duplex));
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::wait_named_pipe(name, r.wait_ms), r.available);
        const auto waited = std::chrono::steady_clock::now() - start;
        maker.get();
        // Not the answer of the first look: the wait lasted until the pipe came, or its end.
        EXPECT_GE(waited, std::chrono::milliseconds(r.available ? r.appears_after_ms : r.wait_ms));
    }
}

TEST(win32_pipe, a_read_gives_up_when_the_peer_of_the_watched_pipe_goes) {
    for (const bool peer_goes : {true, false}) {
        const std::string in = unique_pipe_name("answer"), front = unique_pipe_name("front");
        pipe answer = pipe::create_server(in, options(pipe_access::inbound));
        pipe front_end = pipe::create_server(front, options(pipe_access::duplex));
        pipe writer = pipe::open(in, pipe_open::write);
        pipe front_client = pipe::open(front, pipe_open::read_write);
        ASSERT_TRUE(writer.valid() && front_client.valid());
        ASSERT_EQ(pipe::wait_for_clients(answer, front_end, 5000), connect_status::connected);
        auto later = std::async(std::launch::async, [&] {
            std::this_thread::sleep_for(200ms);
            return peer_goes ? (front_client.close(), true) : writer.write("answer");
        });
        char buf[64];
        bool gone = false;
        const auto r = answer.read_unless_gone(buf, sizeof buf, front_end, gone);
        EXPECT_TRUE(later.get());
        EXPECT_EQ(gone, peer_goes);
        EXPECT_EQ(r.status, peer_goes ? io_status::failed : io_status::ok);
        EXPECT_EQ(std::string(buf, r.count), peer_goes ? "" : "answer");
    }
}

TEST(win32_process, run_and_wait_passes_each_argument_unchanged_and_returns_the_exit_code) {
    const std::string dir = temp_folder("argv");
    const std::string record = dir + "\\argv.rec";
    const std::string helper = record_argv_path();
    const struct {
        std::vector<std::string> argv;
        const char* exit_code;
    } cases[] = {
        {{"C:\\with space\\record_argv", "plain", "two words", ""}, "0"},
        {{"record_argv", "trailing\\", "C:\\Program Files\\x\\", "a\"quote", "b\\\"c"}, "7"},
        {{"record_argv", "\\\\server\\share", "tab\there", "%PATH%", "\"\""}, "255"},
    };
    for (const auto& c : cases) {
        DeleteFileA(record.c_str());
        SetEnvironmentVariableA(test_helpers::record_argv_file_env, record.c_str());
        SetEnvironmentVariableA(test_helpers::record_argv_exit_env, c.exit_code);
        const auto code = platform::run_and_wait(helper, c.argv);
        ASSERT_TRUE(code.has_value()) << helper;
        EXPECT_EQ(*code, std::stoi(c.exit_code));
        const auto run = test_helpers::read_recorded_run(record);
        ASSERT_TRUE(run.has_value()) << c.argv[1];
        EXPECT_EQ(run->argv, c.argv);
    }
    SetEnvironmentVariableA(test_helpers::record_argv_file_env, nullptr);
    SetEnvironmentVariableA(test_helpers::record_argv_exit_env, nullptr);
    DeleteFileA(record.c_str());
    RemoveDirectoryA(dir.c_str());

    EXPECT_FALSE(platform::run_and_wait("Z:\\no\\such\\program.exe", {"program"}).has_value());
    EXPECT_FALSE(platform::spawn_command_line("Z:\\no\\such\\program.exe").valid());
    EXPECT_FALSE(
        platform::spawn_command_line("Z:\\no\\such\\program.exe a", hidden_and_detached()).valid());
}

TEST(win32_process, the_executable_path_of_this_process_is_found) {
    EXPECT_EQ(_stricmp(platform::process_executable_path(platform::current_process_id()).c_str(),
                       own_path().c_str()),
              0);
    EXPECT_EQ(platform::process_executable_path(-5), "");
}

// The reservation and the committed part of the stack a thread runs on.
struct stack_extent {
    SIZE_T reserved = 0;
    SIZE_T committed = 0;
};

stack_extent extent_of_this_stack() {
    int local = 0;
    MEMORY_BASIC_INFORMATION info{};
    stack_extent extent;
    if (!VirtualQuery(&local, &info, sizeof info)) return extent;
    char* const base = static_cast<char*>(info.AllocationBase);
    for (char* at = base; VirtualQuery(at, &info, sizeof info) && info.AllocationBase == base;
         at += info.RegionSize) {
        extent.reserved += info.RegionSize;
        if (info.State == MEM_COMMIT) extent.committed += info.RegionSize;
    }
    return extent;
}

TEST(win32_thread, a_given_stack_size_is_the_reservation) {
    // Static: the detached thread may still be inside set_value when the test goes on.
    static std::promise<stack_extent> measured;
    auto run = [](void* arg) {
        static_cast<std::promise<stack_extent>*>(arg)->set_value(extent_of_this_stack());
    };
    ASSERT_TRUE(platform::start_detached_thread(run, &measured, 256 * 1024));
    auto future = measured.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    const stack_extent stack = future.get();
    // Taken as a commit size, the size would leave the reservation at the program's default.
    // Windows reserves the size given; wine reserves no less than 1 MiB for any thread.
    const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const SIZE_T default_reserve = nt->OptionalHeader.SizeOfStackReserve;
    ASSERT_GT(default_reserve, SIZE_T{1024 * 1024});
    EXPECT_GE(stack.reserved, SIZE_T{256 * 1024});
    EXPECT_LT(stack.reserved, default_reserve);
}

TEST(win32_files, text_lines_reach_the_disk_with_crlf) {
    const std::string dir = temp_folder("files");
    const std::string file = dir + "\\log.txt";
    ASSERT_TRUE(platform::write_private_file(file, "one\n", platform::file_open::truncate));
    ASSERT_TRUE(platform::write_private_file(file, "two\n", platform::file_open::append));
    std::ifstream in(file, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    EXPECT_EQ(content, "one\r\ntwo\r\n");
    DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(win32_runtime, the_temporary_directory_loses_its_trailing_backslash) {
    char saved_tmp[4096] = {};
    GetEnvironmentVariableA("TMP", saved_tmp, sizeof saved_tmp);
    const struct {
        const char* tmp;
        const char* expected;
    } cases[] = {{"C:\\Temp\\", "C:\\Temp"}, {"C:\\Temp", "C:\\Temp"}, {"C:\\", "C:"}};
    for (const auto& c : cases) {
        SetEnvironmentVariableA("TMP", c.tmp);
        char buf[4096] = {};
        fileutl_get_tmpdir(0, buf, sizeof buf, 0);
        EXPECT_STREQ(buf, c.expected) << c.tmp;
    }
    SetEnvironmentVariableA("TMP", saved_tmp[0] ? saved_tmp : nullptr);
}

TEST(win32_runtime, owner_security_attributes_keep_a_protected_dacl_with_one_ace) {
    auto* sa = static_cast<SECURITY_ATTRIBUTES*>(nt_owner_security_attributes(0x1F01FF, 1));
    ASSERT_NE(sa, nullptr);
    EXPECT_TRUE(sa->bInheritHandle);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sa->lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);
    EXPECT_EQ(acl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask, 0x1F01FFu);
}

}  // namespace
