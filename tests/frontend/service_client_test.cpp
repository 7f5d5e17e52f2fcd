#include "frontend/service_client.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/work_dir.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

using platform::path_style;

TEST(ReadPid, ReadsTheFirstTokenAsASigned32BitNumber) {
    const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
        {"1234", 1234},
        {"1234\n", 1234},
        {"1234\r\n", 1234},
        {"  \t1234 trailing text", 1234},
        {"\n42", 42},
        {"1234abc", 1234},
        {"-7", -7},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"abc1234", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const auto& [text, pid] : cases) {
        std::istringstream in(text);
        EXPECT_EQ(read_pid(in), pid) << '"' << text << '"';
    }
}

TEST(ServicePaths, ComposeTheStartCommandOfEachStyle) {
    EXPECT_EQ(service_start_path(R"(C:\Prod)", path_style::windows),
              R"(C:\Prod\\bin\zorv_service.exe)");
    EXPECT_EQ(service_executable_path(R"(C:\Prod)", path_style::windows),
              R"(C:\Prod\bin\zorv_service.exe)");
    EXPECT_EQ(client_folder_path(R"(C:\Prod)", path_style::windows), R"(C:\Prod\ZorvHome)");
    EXPECT_EQ(service_command_line(R"(C:\Prod)", path_style::windows),
              R"("C:\Prod\\bin\zorv_service.exe" "C:\Prod\ZorvHome")");

    EXPECT_EQ(service_start_path("/opt/p", path_style::posix), "/opt/p/bin/zorv_service");
    EXPECT_EQ(service_executable_path("/opt/p", path_style::posix), "/opt/p/bin/zorv_service");
    EXPECT_EQ(service_command_line("/opt/p", path_style::posix),
              R"("/opt/p/bin/zorv_service" "/opt/p/ZorvHome")");
}

TEST(SameExecutable, IgnoresCaseOnlyOnWindows) {
    struct row {
        const char* a;
        const char* b;
        path_style style;
        bool same;
    };
    const row rows[] = {
        {R"(C:\PROD\Bin\Zorv_Service.EXE)", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows,
         true},
        {R"(C:\Prod\bin\zorv_service.exe)", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows,
         true},
        {R"(C:\Prod\bin\other.exe)", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows, false},
        {"", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows, false},
        {"", "", path_style::windows, false},
        {"/opt/p/bin/zorv_service", "/opt/p/bin/zorv_service", path_style::posix, true},
        {"/opt/P/bin/zorv_service", "/opt/p/bin/zorv_service", path_style::posix, false},
        {"/opt/p/bin/zorv_service (deleted)", "/opt/p/bin/zorv_service", path_style::posix, false},
    };
    for (const auto& r : rows) EXPECT_EQ(same_executable(r.a, r.b, r.style), r.same) << r.a;
}

TEST(ConnectPauseHook, TakesOnlyDecimalNumbers) {
    EXPECT_TRUE(connect_schedule_for_pause_ms("0"));
    EXPECT_TRUE(connect_schedule_for_pause_ms("250"));
    for (const char* bad : {"", "x", "-1", "1.5", " 5", "1234567890"}) {
        EXPECT_FALSE(connect_schedule_for_pause_ms(bad)) << bad;
    }
    const auto schedule = connect_schedule_for_pause_ms("1");
    EXPECT_EQ(schedule->attempts, 13);
    EXPECT_EQ(schedule->wait_timeout_ms, 10000u);
    ASSERT_TRUE(schedule->pause);
}

TEST(IsServiceProcess, RejectsThisProcessAForeignOneAndADeadOne) {
    EXPECT_FALSE(is_service_process(platform::current_process_id()));
    EXPECT_FALSE(is_service_process(1));
    EXPECT_FALSE(is_service_process(0));
    EXPECT_FALSE(is_service_process(-5));

    platform::process ended = platform::start_process("\"/bin/true\"");
    ASSERT_TRUE(ended.valid());
    ASSERT_EQ(ended.wait_for_exit(std::chrono::seconds(20)), 0);
    EXPECT_FALSE(is_service_process(ended.id()));
}

TEST(ServiceIsRunning, IsFalseForAMissingUnreadableOrForeignPidFile) {
    test_support::sandbox box;
    ASSERT_TRUE(setup_work_dir());
    const auto pid_file = box.user_work_dir() / "zorv_service.pid";
    EXPECT_FALSE(service_is_running());
    for (const std::string& text : {std::string(""), std::string("letters"),
                                    std::to_string(platform::current_process_id())}) {
        test_support::write_file(pid_file, text);
        EXPECT_FALSE(service_is_running()) << text;
    }
}
