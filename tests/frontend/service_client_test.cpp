#include "frontend/service_client.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/command_line.h"
#include "platform/process.h"

using platform::path_style;

TEST(read_pid, reads_the_first_token_as_a_signed_32_bit_number) {
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
        EXPECT_EQ(frontend::read_pid(in), pid) << '"' << text << '"';
    }
}

TEST(service_command_line, quotes_the_windows_start_path_as_given) {
    EXPECT_EQ(frontend::service_command_line(R"(C:\Prod)", path_style::windows),
              R"("C:\Prod\\bin\zorv_service.exe" "C:\Prod\ZorvHome")");
}

TEST(service_command_line, escapes_the_client_folder_so_that_the_service_gets_it_whole) {
    struct row {
        const char* product;
        path_style style;
        const char* line;
    };
    const row rows[] = {
        {R"(C:\Pro"d)", path_style::windows,
         R"("C:\Pro"d\\bin\zorv_service.exe" "C:\Pro\"d\ZorvHome")"},
        {R"(/opt/a "b" \c)", path_style::posix,
         R"("/opt/a "b" \c/bin/zorv_service" "/opt/a \"b\" \c/ZorvHome")"},
        {R"(/opt/q\")", path_style::posix, R"("/opt/q\"/bin/zorv_service" "/opt/q\\\"/ZorvHome")"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(frontend::service_command_line(r.product, r.style), r.line) << r.product;
    }
}

TEST(same_executable, ignores_case_only_on_windows_and_an_updated_file_only_on_posix) {
    struct row {
        const char* a;
        const char* b;
        path_style style;
        bool same;
    };
    const row rows[] = {
        {R"(C:\PROD\Bin\Zorv_Service.EXE)", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows,
         true},
        {R"(C:\Prod\bin\other.exe)", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows, false},
        {"", R"(C:\Prod\bin\zorv_service.exe)", path_style::windows, false},
        {"", "", path_style::windows, false},
        {"/opt/P/bin/zorv_service", "/opt/p/bin/zorv_service", path_style::posix, false},
        // A service whose file an update replaced runs on from the unlinked file.
        {"/opt/p/bin/zorv_service (deleted)", "/opt/p/bin/zorv_service", path_style::posix, true},
        {"/opt/p/bin/zorv_servic (deleted)", "/opt/p/bin/zorv_service", path_style::posix, false},
        {"/opt/p/bin/zorv_service (deleted) (deleted)", "/opt/p/bin/zorv_service",
         path_style::posix, false},
        {" (deleted)", "", path_style::posix, false},
        {R"(C:\Prod\bin\zorv_service.exe (deleted))", R"(C:\Prod\bin\zorv_service.exe)",
         path_style::windows, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(frontend::same_executable(r.a, r.b, r.style), r.same) << r.a;
}

TEST(is_service_process, rejects_this_process_a_foreign_one_and_a_dead_one) {
    EXPECT_FALSE(frontend::is_service_process(platform::current_process_id()));
    EXPECT_FALSE(frontend::is_service_process(1));
    EXPECT_FALSE(frontend::is_service_process(0));
    EXPECT_FALSE(frontend::is_service_process(-5));

    // This test program itself, running no test, ends at once on every platform.
    const std::string self = platform::process_executable_path(platform::current_process_id());
    platform::process ended = platform::spawn({self, "--gtest_filter=-*"});
    ASSERT_TRUE(ended.valid());
    ASSERT_EQ(ended.wait_for_exit(std::chrono::seconds(20)), 0);
    EXPECT_FALSE(frontend::is_service_process(ended.id()));
}
