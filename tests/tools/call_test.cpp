#include <gtest/gtest.h>

#include <string>

#include "tools/zorvexplorer/transport/http_frame.h"
#include "tools/zorvexplorer/transport/xmlrpc.h"

namespace zorv {
namespace {

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

TEST(http_frame, marks_a_request_whose_body_ends_before_its_length_as_cut_short) {
    const std::string call = "<methodCall><methodName>M</methodName></methodCall>";
    struct row {
        std::string message;
        bool read;
        bool cut_short;
    };
    const row rows[] = {
        {"POST /RPC2 HTTP/1.1\r\nContent-Length: 51\r\n\r\n" + call, true, false},
        {"POST /RPC2 HTTP/1.1\r\nContent-Length: 10000\r\n\r\n" + call, false, true},
        {"POST /RPC2 HTTP/1.1\r\nContent-Length: 50\r\n\r\n" + call, false, false},
        {"POST /RPC2 HTTP/1.1\r\nContent-Length: x\r\n\r\n" + call, false, false},
    };
    for (const row& r : rows) {
        const framed_request framed = unframe_request(r.message);
        EXPECT_EQ(framed.body.has_value(), r.read) << r.message;
        EXPECT_EQ(framed.cut_short, r.cut_short) << r.message;
    }
}

}  // namespace
}  // namespace zorv
