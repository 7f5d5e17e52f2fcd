// The Win32 pipes, processes, files, threads and runtime calls, run under Windows or wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "common/product_runtime.h"
#include "platform/files.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace {

using namespace std::chrono_literals;
using platform::pipe;

// A name no other test (or test run) uses.
std::string unique_pipe_name(const char* what) {
    static std::atomic<int> counter{0};
    std::ostringstream name;
    name << R"(\\.\pipe\varnex_test\)" << what << '_' << GetCurrentProcessId() << '_' << counter++;
    return name.str();
}

platform::pipe_server_options options(platform::pipe_access access, int instances = 1) {
    platform::pipe_server_options o;
    o.access = access;
    o.max_instances = instances;
    return o;
}

// Runs fn on a thread of its own and waits for its result up to deadline; the thread is
// left behind (and the test fails) when it does not finish.
template <typename T>
std::optional<T> within(std::chrono::milliseconds deadline, std::function<T()> fn) {
    auto result = std::make_shared<std::promise<T>>();
    auto future = result->get_future();
    std::thread([result, fn] { result->set_value(fn()); }).detach();
    if (future.wait_for(deadline) != std::future_status::ready) return std::nullopt;
    return future.get();
}

std::string temp_folder(const char* what) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    std::string dir =
        std::string(base) + "varnex_" + what + "_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string cmd_exe() {
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\cmd.exe";
}

TEST(Win32Pipe, message_longer_than_the_read_comes_in_chunks_with_more_data) {
    const std::string name = unique_pipe_name("chunks");
    pipe server = pipe::create_server(name, options(platform::pipe_access::duplex));
    ASSERT_TRUE(server.valid());
    const std::string message(6000, 'x');
    auto served = std::async(std::launch::async, [&] {
        return server.wait_for_client() == platform::connect_status::connected &&
               server.write(message) && server.flush();
    });
    ASSERT_TRUE(platform::wait_named_pipe(name, 5000));
    pipe client = pipe::open(name, platform::pipe_open::read_write);
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(client.set_message_read_mode());
    char buf[4095];
    auto first = client.read(buf, sizeof buf);
    EXPECT_EQ(first.status, platform::io_status::more_data);
    EXPECT_EQ(first.count, sizeof buf);
    auto second = client.read(buf, sizeof buf);
    EXPECT_EQ(second.status, platform::io_status::ok);
    EXPECT_EQ(second.count, message.size() - sizeof buf);
    EXPECT_TRUE(served.get());
}

TEST(Win32Pipe, each_write_is_one_message) {
    const std::string name = unique_pipe_name("messages");
    pipe server = pipe::create_server(name, options(platform::pipe_access::inbound));
    ASSERT_TRUE(server.valid());
    auto connected = std::async(std::launch::async, [&] { return server.wait_for_client(); });
    pipe client = pipe::open(name, platform::pipe_open::write);
    ASSERT_TRUE(client.valid());
    EXPECT_EQ(connected.get(), platform::connect_status::connected);
    ASSERT_TRUE(client.write("first"));
    ASSERT_TRUE(client.write("second"));
    char buf[100];
    auto r = server.read(buf, sizeof buf);
    EXPECT_EQ(r.status, platform::io_status::ok);
    EXPECT_EQ(std::string(buf, r.count), "first");
    client.close();
    r = server.read(buf, sizeof buf);
    EXPECT_EQ(std::string(buf, r.count), "second");
    EXPECT_EQ(server.read(buf, sizeof buf).status, platform::io_status::failed);
}

TEST(Win32Pipe, a_single_instance_name_in_use_cannot_be_created_again) {
    const std::string name = unique_pipe_name("single");
    pipe first = pipe::create_server(name, options(platform::pipe_access::outbound));
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(pipe::create_server(name, options(platform::pipe_access::outbound)).valid());
}

TEST(Win32Pipe, later_instances_of_a_multi_instance_pipe_are_created) {
    const std::string name = unique_pipe_name("multi");
    auto o = options(platform::pipe_access::duplex, platform::unlimited_instances);
    pipe first = pipe::create_server(name, o);
    pipe second = pipe::create_server(name, o);
    pipe third = pipe::create_server(name, o);
    EXPECT_TRUE(first.valid());
    EXPECT_TRUE(second.valid());
    EXPECT_TRUE(third.valid());
}

TEST(Win32Pipe, owner_only_security_attributes_let_the_owner_in) {
    const std::string name = unique_pipe_name("owner");
    auto o = options(platform::pipe_access::duplex, platform::unlimited_instances);
    o.security_attributes = nt_owner_security_attributes(0x1F01FF, 1);
    ASSERT_NE(o.security_attributes, nullptr);
    pipe server = pipe::create_server(name, o);
    ASSERT_TRUE(server.valid());
    auto connected = std::async(std::launch::async, [&] { return server.wait_for_client(); });
    pipe client = pipe::open(name, platform::pipe_open::read_write);
    EXPECT_TRUE(client.valid());
    EXPECT_EQ(connected.get(), platform::connect_status::connected);
}

TEST(Win32Pipe, a_client_that_connected_before_the_wait_counts_as_connected) {
    const std::string name = unique_pipe_name("early");
    pipe server = pipe::create_server(name, options(platform::pipe_access::outbound));
    pipe client = pipe::open(name, platform::pipe_open::read);
    ASSERT_TRUE(client.valid());
    EXPECT_EQ(server.wait_for_client(), platform::connect_status::connected);
}

TEST(Win32Pipe, waiting_for_a_missing_pipe_fails) {
    EXPECT_FALSE(platform::wait_named_pipe(unique_pipe_name("missing"), 100));
    EXPECT_FALSE(pipe::open(unique_pipe_name("missing"), platform::pipe_open::read).valid());
}

TEST(Win32Pipe, wait_for_client_gives_up_when_the_watched_process_ends) {
    const std::string name = unique_pipe_name("watched");
    auto server =
        std::make_shared<pipe>(pipe::create_server(name, options(platform::pipe_access::outbound)));
    ASSERT_TRUE(server->valid());
    auto child = std::make_shared<platform::process>(
        platform::start_process("\"" + cmd_exe() + "\" /c exit 0"));
    ASSERT_TRUE(child->valid());
    auto status = within<platform::connect_status>(
        20s, [server, child] { return server->wait_for_client(child.get()); });
    ASSERT_TRUE(status.has_value()) << "wait_for_client did not return";
    EXPECT_EQ(*status, platform::connect_status::process_ended);
}

TEST(Win32Pipe, wait_for_client_with_a_live_watched_process_returns_on_connection) {
    const std::string name = unique_pipe_name("watched_live");
    auto server =
        std::make_shared<pipe>(pipe::create_server(name, options(platform::pipe_access::outbound)));
    // A process that lives long enough: ping waits about a second per count.
    auto child = std::make_shared<platform::process>(
        platform::start_hidden_detached("\"" + cmd_exe() + "\" /c ping -n 30 127.0.0.1 >NUL"));
    ASSERT_TRUE(child->valid());
    auto waiting = std::async(std::launch::async,
                              [server, child] { return server->wait_for_client(child.get()); });
    ASSERT_TRUE(platform::wait_named_pipe(name, 5000));
    pipe client = pipe::open(name, platform::pipe_open::read);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), platform::connect_status::connected);
    TerminateProcess(OpenProcess(PROCESS_TERMINATE, FALSE, child->id()), 1);
}

TEST(Win32Process, run_and_wait_returns_the_exit_code) {
    struct {
        const char* command;
        int code;
    } cases[] = {{"exit 0", 0}, {"exit 7", 7}, {"exit 255", 255}};
    for (const auto& c : cases) {
        auto code = platform::run_and_wait(cmd_exe(), {"cmd", "/c", c.command});
        ASSERT_TRUE(code.has_value()) << c.command;
        EXPECT_EQ(*code, c.code) << c.command;
    }
}

TEST(Win32Process, programs_that_do_not_exist_are_not_started) {
    EXPECT_FALSE(platform::run_and_wait("Z:\\no\\such\\program.exe", {"program"}).has_value());
    EXPECT_FALSE(platform::start_process("Z:\\no\\such\\program.exe").valid());
    EXPECT_FALSE(platform::start_hidden_detached("Z:\\no\\such\\program.exe a").valid());
}

TEST(Win32Process, a_started_process_can_be_waited_for) {
    auto child = platform::start_hidden_detached("\"" + cmd_exe() + "\" /c exit 3");
    ASSERT_TRUE(child.valid());
    EXPECT_GT(child.id(), 0);
    EXPECT_EQ(child.wait_for_exit(20s), 3);
    EXPECT_TRUE(child.has_ended());
}

TEST(Win32Process, the_executable_path_of_this_process_is_found) {
    char own[1024] = {};
    GetModuleFileNameA(nullptr, own, sizeof own);
    EXPECT_EQ(
        _stricmp(platform::process_executable_path(platform::current_process_id()).c_str(), own),
        0);
    EXPECT_EQ(platform::process_executable_path(-5), "");
}

TEST(Win32Process, current_directory_round_trips) {
    const std::string before = platform::current_directory();
    ASSERT_FALSE(before.empty());
    const std::string dir = temp_folder("cwd");
    ASSERT_TRUE(platform::set_current_directory(dir));
    EXPECT_EQ(_stricmp(platform::current_directory().c_str(), dir.c_str()), 0);
    EXPECT_FALSE(platform::set_current_directory(dir + "\\missing"));
    ASSERT_TRUE(platform::set_current_directory(before));
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Files, text_lines_reach_the_disk_with_crlf) {
    const std::string dir = temp_folder("files");
    const std::string file = dir + "\\log.txt";
    ASSERT_TRUE(platform::write_private_file(file, "one\n", platform::file_open::truncate));
    ASSERT_TRUE(platform::write_private_file(file, "two\n", platform::file_open::append));
    std::ifstream in(file, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    EXPECT_EQ(content, "one\r\ntwo\r\n");
    EXPECT_TRUE(platform::is_private_directory(dir));
    EXPECT_FALSE(platform::is_private_directory(file));
    EXPECT_FALSE(platform::is_private_directory(dir + "\\missing"));
    EXPECT_FALSE(
        platform::write_private_file(dir + "\\missing\\x", "x", platform::file_open::truncate));
    DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Thread, a_detached_thread_runs_with_the_stack_asked_for) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto fn = [](void* arg) {
        volatile char big[512 * 1024];  // more than a small default stack would hold
        big[0] = 1;
        big[sizeof big - 1] = big[0];
        SetEvent(static_cast<HANDLE>(arg));
    };
    ASSERT_TRUE(platform::start_detached_thread(fn, done, 2 * 1024 * 1024));
    EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
    CloseHandle(done);
}

TEST(Win32Runtime, the_temporary_directory_loses_its_trailing_backslash) {
    char saved_tmp[4096] = {};
    GetEnvironmentVariableA("TMP", saved_tmp, sizeof saved_tmp);
    struct {
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

TEST(Win32Runtime, the_drive_designation_is_the_letter_and_colon) {
    struct {
        const char* dir;
        const char* drive;
    } cases[] = {{"D:\\work", "D:"}, {"z:", "z:"}, {"\\\\srv\\share", ""}, {"", ""}, {"1:\\x", ""}};
    for (const auto& c : cases) EXPECT_STREQ(fileutl_get_drive(c.dir), c.drive) << c.dir;
}

TEST(Win32Runtime, the_product_directory_is_the_parent_of_the_programs_folder) {
    char exe[1024] = {};
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string expected(exe);
    expected.erase(expected.rfind('\\'));
    expected.erase(expected.rfind('\\'));
    char buf[1024] = {};
    EXPECT_EQ(std::string(ks_product_dir(buf, 0)), expected);
}

TEST(Win32Runtime, mkdir_reports_an_existing_directory_with_eexist) {
    const std::string dir = temp_folder("mkdir") + "\\sub";
    ASSERT_EQ(unix_nt_mkdir(dir.c_str(), 0), 0);
    errno = 0;
    EXPECT_NE(unix_nt_mkdir(dir.c_str(), 0), 0);
    EXPECT_EQ(errno, 17);
    EXPECT_NE(unix_nt_mkdir((dir + "\\no\\such").c_str(), 0), 0);
    EXPECT_NE(errno, 17);
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Runtime, login_name_and_time_are_there) {
    EXPECT_STRNE(sysutl_myloginname(), "");
    std::int64_t t = 0;
    const std::int64_t returned = unix_nt_time(&t);
    EXPECT_EQ(returned, t);
    EXPECT_GT(t, 1500000000);
    EXPECT_EQ(sleep(0), 0u);
}

TEST(Win32Runtime, owner_security_attributes_keep_a_protected_dacl_with_one_ace) {
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

namespace {

TEST(Win32Pipe, an_outbound_pipe_carries_messages_after_a_watched_connect) {
    const std::string name = unique_pipe_name("wrapper");
    auto server =
        std::make_shared<pipe>(pipe::create_server(name, options(platform::pipe_access::outbound)));
    auto child = std::make_shared<platform::process>(
        platform::start_hidden_detached("\"" + cmd_exe() + "\" /c ping -n 30 127.0.0.1 >NUL"));
    ASSERT_TRUE(child->valid());
    auto reader = std::async(std::launch::async, [&] {
        pipe client = pipe::open(name, platform::pipe_open::read);
        if (!client.valid()) return std::string("open failed");
        client.set_message_read_mode();
        char buf[100];
        auto r = client.read(buf, sizeof buf);
        return std::string(buf, r.count) + (r.status == platform::io_status::ok ? "" : "!");
    });
    ASSERT_EQ(server->wait_for_client(child.get()), platform::connect_status::connected);
    EXPECT_TRUE(server->write("a\nb\n"));
    ASSERT_EQ(reader.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "a\nb\n");
    TerminateProcess(OpenProcess(PROCESS_TERMINATE, FALSE, child->id()), 1);
}

}  // namespace

namespace {

TEST(Win32Pipe, the_writer_of_an_outbound_pipe_sees_its_reader_go) {
    const std::string name = unique_pipe_name("reader_gone");
    auto server =
        std::make_shared<pipe>(pipe::create_server(name, options(platform::pipe_access::outbound)));
    pipe client = pipe::open(name, platform::pipe_open::read);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(server->wait_for_client(), platform::connect_status::connected);
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread([server, returned] {
        server->wait_for_peer_gone();
        *returned = true;
    }).detach();
    Sleep(300);
    EXPECT_FALSE(*returned) << "returned while the reader was still there";
    EXPECT_TRUE(server->write("still there"));
    client.close();
    for (int i = 0; i < 200 && !*returned; ++i) Sleep(50);
    EXPECT_TRUE(*returned) << "did not notice that the reader went";
}

}  // namespace

namespace {

TEST(Win32Pipe, opening_a_busy_pipe_waits_until_the_server_listens_again) {
    const std::string name = unique_pipe_name("busy");
    pipe server = pipe::create_server(name, options(platform::pipe_access::duplex));
    pipe first = pipe::open(name, platform::pipe_open::read_write);
    ASSERT_TRUE(first.valid());
    ASSERT_EQ(server.wait_for_client(), platform::connect_status::connected);
    auto second = std::async(std::launch::async,
                             [&] { return pipe::open(name, platform::pipe_open::read_write); });
    EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout) << "opened a busy instance";
    first.close();
    server.disconnect();
    ASSERT_EQ(server.wait_for_client(), platform::connect_status::connected);
    ASSERT_EQ(second.wait_for(20s), std::future_status::ready);
    EXPECT_TRUE(second.get().valid());
}

}  // namespace

namespace {

TEST(Win32Runtime, owner_security_attributes_are_made_once_per_mask_and_inheritance) {
    void* first = nt_owner_security_attributes(0x1F01FF, 1);
    EXPECT_EQ(nt_owner_security_attributes(0x1F01FF, 1), first);
    void* other = nt_owner_security_attributes(0x1F01FF, 0);
    EXPECT_NE(other, first);
    EXPECT_FALSE(static_cast<SECURITY_ATTRIBUTES*>(other)->bInheritHandle);
}

}  // namespace

namespace {

TEST(Win32Pipe, a_name_that_someone_else_created_first_is_not_served) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        GTEST_SKIP() << "wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE";
    }
    const std::string name = unique_pipe_name("squatted");
    // Created behind the backend's back, as another program would.
    HANDLE squatter = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 5000, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    auto o = options(platform::pipe_access::duplex, platform::unlimited_instances);
    EXPECT_FALSE(pipe::create_server(name, o).valid());
    CloseHandle(squatter);
    EXPECT_TRUE(pipe::create_server(name, o).valid());
}

TEST(Win32Pipe, a_single_instance_name_can_be_created_again_once_closed) {
    const std::string name = unique_pipe_name("reused");
    for (int i = 0; i < 3; ++i) {
        pipe server = pipe::create_server(name, options(platform::pipe_access::inbound));
        EXPECT_TRUE(server.valid()) << "round " << i;
    }
}

}  // namespace
