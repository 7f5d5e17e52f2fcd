#include "frontend/request.h"

#include <gtest/gtest.h>

#include "frontend/compare_options.h"
#include "tests/frontend/frontend_test_env.h"
#include "tests/support/xmlrpc_answers.h"

using frontend_test::parse;
using frontend_test::world;

namespace {

std::string request_for(world w, const std::vector<std::string>& args) {
    frontend::CompareOptions options;
    EXPECT_TRUE(parse(options, args));
    EXPECT_TRUE(options.validate(w.env()));
    return frontend::build_request(options);
}

const std::string worked_example_windows =
    "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value><array>"
    "<data><value><string>a.txt</string></value></data><data><value><string>b.txt</string>"
    "</value></data></array></value></param><param><value><array><data><value><string>"
    R"(D:\work\a.txt)"
    "</string></value></data><data><value><string>"
    R"(D:\work\b.txt)"
    "</string></value></data></array></value></param><param><value><string></string></value>"
    "</param></params></methodCall>";

}  // namespace

TEST(build_request, writes_the_worked_example_byte_for_byte) {
    EXPECT_EQ(request_for(world::windows_at(R"(D:\work)"), {"a.txt", "b.txt"}),
              worked_example_windows);

    std::string posix = worked_example_windows;
    for (const char* name : {"a.txt", "b.txt"}) {
        const std::string from = std::string(R"(D:\work\)") + name;
        posix.replace(posix.find(from), from.size(), std::string("/srv/work/") + name);
    }
    world w;
    w.cwd = "/srv/work";
    EXPECT_EQ(request_for(w, {"a.txt", "b.txt"}), posix);
}

TEST(build_request, puts_the_output_first_in_a_merge_and_fills_the_type) {
    std::string expected = worked_example_windows;
    expected.replace(expected.find("RequestHandler.Compare"), 22, "RequestHandler.CompareMerge");
    expected.replace(expected.find("<params>") + 8, 0,
                     R"(<param><value><string>D:\work\m.txt</string></value></param>)");
    expected.replace(expected.find("<string></string>"), 17, "<string>utf8_file_delta</string>");
    EXPECT_EQ(request_for(world::windows_at(R"(D:\work)"),
                          {"a.txt", "b.txt", "-out", "m.txt", "-encoding", "utf-8"}),
              expected);
}

TEST(build_request, writes_markup_characters_of_names_as_entities) {
    world w;
    const std::string request = request_for(w, {"-fname", "x<y>&z\"'", "a&b", "c"});
    EXPECT_NE(request.find("<string>x&lt;y&gt;&amp;z\"'</string>"), std::string::npos);
    EXPECT_NE(request.find("<string>/home/u/a&amp;b</string>"), std::string::npos);
    EXPECT_EQ(frontend::xml_escape("\xe4&\xff"), "\xe4&amp;\xff");
}

TEST(build_request, writes_line_ends_and_tabs_of_names_as_character_references) {
    struct row {
        const char* name;
        const char* written;
    };
    const row rows[] = {
        {"m\r1.txt", "m&#13;1.txt"},        {"m\n1.txt", "m&#10;1.txt"}, {"m\t1.txt", "m&#9;1.txt"},
        {"\r\n&\t", "&#13;&#10;&amp;&#9;"}, {"m 1.txt", "m 1.txt"},
    };
    for (const row& r : rows) {
        world w;
        const std::string request = request_for(w, {"-out", r.name, "-fname", r.name, "a", "b"});
        EXPECT_NE(request.find(std::string("<string>/home/u/") + r.written + "</string>"),
                  std::string::npos)
            << request;
        EXPECT_NE(request.find(std::string("<string>") + r.written + "</string>"),
                  std::string::npos)
            << request;
    }
}

TEST(reply_succeeded, reads_the_first_boolean_within_twenty_characters) {
    const std::string http =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 99\r\n\r\n";
    const std::string answer1(test_support::true_answer);
    const std::string answer0 =
        "<methodResponse><params><param><value><boolean>0</boolean></value></param></params>"
        "</methodResponse>";
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {answer1, true},
        {http + answer1, true},
        {answer0, false},
        {http + answer0, false},
        {"<boolean>0</boolean><boolean>1</boolean>", false},
        {"<boolean>          1</boolean>", true},    // ten blanks: the 1 is the 20th character
        {"<boolean>           1</boolean>", false},  // eleven: just outside
        {"<boolean>1", true},
        {"<boolean>", false},
        {"<boolean", false},
        {"<methodResponse><fault><value><int>1</int></value></fault></methodResponse>", false},
        {"1<boolean>0</boolean>", false},
        {"<Boolean>1</Boolean>", false},
        {"<boolean>0</boolean>1", false},
        {"<boolean>0</boolea1", true},
    };
    for (const auto& [reply, expected] : cases)
        EXPECT_EQ(frontend::reply_succeeded(reply), expected) << reply;

    // A reply cut at 1023 bytes is judged on what arrived.
    std::string cut(1023 - 10, ' ');
    cut += "<boolean>1";
    ASSERT_EQ(cut.size(), 1023u);
    EXPECT_TRUE(frontend::reply_succeeded(cut));
    EXPECT_FALSE(frontend::reply_succeeded(cut.substr(0, 1022)));
}
