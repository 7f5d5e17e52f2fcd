// A compare or merge from the command line through the service to the client and back.
#include <gtest/gtest.h>

#include "tests/service/posted.h"
#include "tests/helpers/record_argv.h"
#include "tests/service/e2e_support.h"

namespace service_e2e {
namespace {

std::string string_param(const std::string& s) {
    return "<param><value><string>" + s + "</string></value></param>";
}

std::string array_param(const std::vector<std::string>& items) {
    std::string out = "<param><value><array>";
    for (const auto& i : items) out += "<data><value><string>" + i + "</string></value></data>";
    return out + "</array></value></param>";
}

TEST(service_end_to_end, delivers_the_worked_example_byte_for_byte) {
    world w;
    const std::string dir = w.files().string();
    const std::string a = dir + "/a.txt", b = dir + "/b.txt", m = dir + "/m.txt";

    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    ASSERT_TRUE(w.wait_client_file("request-1.bin"));
    const std::string compare =
        "<methodCall><methodName>RequestHandler.Compare</methodName><params>" +
        array_param({"a.txt", "b.txt"}) + array_param({a, b}) + string_param("") +
        "</params></methodCall>";
    EXPECT_EQ(w.client_file("request-1.bin"),
              "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(compare.size()) +
                  "\r\n\r\n" + compare);

    ASSERT_EQ(w.trelmerge({"-out", "m.txt", "a.txt", "b.txt"}).exit_code, 0);
    ASSERT_TRUE(w.wait_client_file("request-2.bin"));
    const std::string merge =
        "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
        string_param(m) + array_param({"a.txt", "b.txt"}) + array_param({a, b}) + string_param("") +
        "</params></methodCall>";
    EXPECT_EQ(w.client_file("request-2.bin"), service_test::posted(merge));

    ASSERT_EQ(w.run("trelmergeutf8", {"-out", "m.txt", "a.txt", "b.txt"}).exit_code, 0);
    ASSERT_TRUE(w.wait_client_file("request-3.bin"));
    const std::string utf8 =
        "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
        string_param(m) + array_param({"a.txt", "b.txt"}) + array_param({a, b}) +
        string_param("utf8_file_delta") + "</params></methodCall>";
    EXPECT_EQ(w.client_file("request-3.bin"), service_test::posted(utf8));
}

TEST(service_end_to_end, exit_status_follows_the_clients_answer) {
    struct row {
        const char* mode;
        int status;
    };
    for (const row& r : {row{"true", 0}, row{"false", 255}, row{"http_head", 0},
                         row{"two_messages", 0}, row{"empty", 255}}) {
        world w(r.mode);
        EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, r.status) << r.mode;
        const bool logged_empty =
            w.service_log().find("Got an empty response\n") != std::string::npos;
        EXPECT_EQ(logged_empty, std::string(r.mode) == "empty") << r.mode;
    }
}

TEST(service_end_to_end, first_run_starts_service_and_client_and_the_second_reuses_them) {
    world w;
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto service = w.service_pid();
    ASSERT_TRUE(service.has_value());
    ASSERT_TRUE(w.wait_client_file("pid"));
    const std::string client_pid = w.client_file("pid");

    const fs::path client_folder = w.product() / "ZorvHome";
    const auto argv =
        test_helpers::parse_records(w.client_file("argv.txt")).value_or(std::vector<std::string>{});
    ASSERT_EQ(argv.size(), 14u);
    EXPECT_EQ(argv[0], (client_folder / "zorvexplorer").string());
    EXPECT_EQ(argv[1], "-product");
    EXPECT_EQ(argv[12], "-vmargs");
    const std::string property = argv[13];
    const std::string property_name = "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=";
    ASSERT_EQ(property.rfind(property_name, 0), 0u) << property;
    const std::string wrapper = property.substr(property_name.size());
    EXPECT_EQ(wrapper.rfind(R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe)", 0), 0u) << wrapper;
    EXPECT_EQ(w.client_file("cwd.txt"), client_folder.string());
    // The service itself is back in the folder it was started in.
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(*service) + "/cwd"), w.files());

    const std::string log = w.service_log();
    EXPECT_EQ(log.substr(0, log.find('\n')),
              "\"" + client_folder.string() +
                  "/zorvexplorer\" -product com.qorva.tarvel.team.client.integration.product "
                  "-application com.qorva.tarvel.team.client.integration.application "
                  R"(-configuration @user.home\.Tarvel\ZXE8\config )"
                  R"(-data @user.home\.Tarvel\ZXE8\workspace -persistState false -nosplash )"
                  "-vmargs -Dcom.qorva.tarvel.team.client.integration.wrapperpipe=\"" +
                  wrapper + "\"");

    ASSERT_EQ(w.trelmerge({"b.txt", "a.txt"}).exit_code, 0);
    EXPECT_EQ(w.service_pid(), service);
    EXPECT_TRUE(process_alive(*service));
    EXPECT_EQ(w.client_file("pid"), client_pid);
    EXPECT_TRUE(process_alive(std::stoi(client_pid)));
    ASSERT_TRUE(w.wait_client_file("request-2.bin"));
}

}  // namespace
}  // namespace service_e2e
