#include <gtest/gtest.h>

#include <string>

#include "tools/zorvexplorer/http_frame.h"
#include "tools/zorvexplorer/request_handler.h"
#include "tools/zorvexplorer/xmlrpc.h"

namespace zorv {
namespace {

std::string framed(const std::string& body) {
    return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

TEST(http_frame, takes_the_body_of_the_relay_framing) {
    const auto r = unframe_request(framed("<x/>"));
    ASSERT_TRUE(r.body) << r.error;
    EXPECT_EQ(*r.body, "<x/>");
    const auto empty = unframe_request("POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(empty.body);
    EXPECT_EQ(*empty.body, "");
}

TEST(http_frame, refuses_what_is_not_that_framing) {
    const char* bad[] = {
        "",
        "<methodCall/>",
        "GET /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
        "POST /RPC2 HTTP/1.1\r\n\r\n<x/>",                        // no length
        "POST /RPC2 HTTP/1.1\r\nContent-Length: 9\r\n\r\n<x/>",   // too short
        "POST /RPC2 HTTP/1.1\r\nContent-Length: 1x\r\n\r\n<x/>",  // not a number
        "POST /RPC2 HTTP/1.1\r\nContent-Length: 4\r\n",           // head not ended
    };
    for (const char* m : bad) EXPECT_FALSE(unframe_request(m).body) << m;
}

TEST(xmlrpc, reads_arrays_with_one_data_per_value_and_the_standard_form) {
    const std::string split =
        "<methodCall><methodName>M</methodName><params>"
        "<param><value><array><data><value><string>a &amp; b</string></value></data>"
        "<data><value><string>&lt;c&gt;</string></value></data></array></value></param>"
        "<param><value><string></string></value></param></params></methodCall>";
    const std::string standard =
        "<?xml version=\"1.0\"?>\n<methodCall>\n <methodName>M</methodName>\n <params>\n"
        "  <param><value><array><data>\n   <value>a &amp; b</value>\n"
        "   <value><string>&lt;c&gt;</string></value>\n  </data></array></value></param>\n"
        "  <param><value></value></param>\n </params>\n</methodCall>\n";
    for (const std::string& xml : {split, standard}) {
        const parsed_call p = parse_call(xml);
        ASSERT_TRUE(p.call) << p.error;
        EXPECT_EQ(p.call->method, "M");
        ASSERT_EQ(p.call->params.size(), 2u);
        EXPECT_EQ(std::get<std::vector<std::string>>(p.call->params[0]),
                  (std::vector<std::string>{"a & b", "<c>"}));
        EXPECT_EQ(std::get<std::string>(p.call->params[1]), "");
    }
}

TEST(xmlrpc, keeps_names_of_blanks_and_of_8_bit_bytes_as_they_are) {
    for (const std::string name : {" ", "caf\xE9.txt"}) {
        const parsed_call p =
            parse_call("<methodCall><methodName>M</methodName><params><param><value><string>" +
                       name + "</string></value></param></params></methodCall>");
        ASSERT_TRUE(p.call) << p.error;
        EXPECT_EQ(std::get<std::string>(p.call->params[0]), name);
    }
}

TEST(xmlrpc, refuses_malformed_calls_and_other_value_types) {
    const char* bad[] = {
        "",
        "<methodCall><methodName>M</methodName>",
        "<methodResponse/>",
        "<methodCall><params/></methodCall>",
        "<methodCall><methodName>M</methodName><params><param><value><int>1</int></value>"
        "</param></params></methodCall>",
        "<methodCall><methodName>M</methodName><params><param/></params></methodCall>",
        "<methodCall><methodName>M</methodName><params><param><value><array><value>x</value>"
        "</array></value></param></params></methodCall>",
    };
    for (const char* xml : bad) EXPECT_FALSE(parse_call(xml).call) << xml;
}

TEST(xmlrpc, boolean_answers_keep_the_digit_next_to_the_tag) {
    EXPECT_NE(boolean_response(true).find("<boolean>1</boolean>"), std::string::npos);
    EXPECT_NE(boolean_response(false).find("<boolean>0</boolean>"), std::string::npos);
    const std::string fault = fault_response(1, "<boolean>1</boolean>");
    EXPECT_EQ(fault.find("<boolean>"), std::string::npos);
}

// What the front end concludes from an answer: the first boolean's 20-character window.
bool front_end_reads_true(const std::string& answer) {
    const std::size_t at = answer.find("<boolean>");
    return at != std::string::npos && answer.substr(at, 20).find('1') != std::string::npos;
}

TEST(serve_message, calls_it_cannot_serve_get_a_fault_and_a_log_line) {
    const std::string names =
        "<param><value><array><data><value><string>a</string></value></data>"
        "<data><value><string>b</string></value></data></array></value></param>";
    struct fault_case {
        const char* what;
        std::string message;
        int code;
    };
    const fault_case cases[] = {
        {"unframed", "<methodCall/>", fault_parse_error},
        {"malformed", framed("<methodCall><methodName>x"), fault_parse_error},
        {"unknown method",
         framed("<methodCall><methodName>RequestHandler.Rm</methodName><params/></methodCall>"),
         fault_unknown_method},
        {"too few",
         framed("<methodCall><methodName>RequestHandler.Compare</methodName><params>" + names +
                "</params></methodCall>"),
         fault_invalid_params},
        {"too many",
         framed("<methodCall><methodName>RequestHandler.Compare</methodName><params>" + names +
                names + "<param><value><string></string></value></param>" + names +
                "</params></methodCall>"),
         fault_invalid_params},
        {"merge without output",
         framed("<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" + names +
                names + names + "<param><value><string></string></value></param>" +
                "</params></methodCall>"),
         fault_invalid_params},
        {"unknown type",
         framed("<methodCall><methodName>RequestHandler.Compare</methodName><params>" + names +
                names + "<param><value><string>latin1</string></value></param>" +
                "</params></methodCall>"),
         fault_invalid_params},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> lines;
        client_context context;
        context.log = [&](std::string_view l) { lines.emplace_back(l); };
        const std::string answer = serve_message(c.message, context);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
        EXPECT_NE(answer.find("<fault>"), std::string::npos) << answer;
        EXPECT_NE(answer.find("<int>" + std::to_string(c.code) + "</int>"), std::string::npos)
            << answer;
        EXPECT_FALSE(front_end_reads_true(answer));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("fault"), std::string::npos) << lines[0];
    }
}

}  // namespace
}  // namespace zorv
