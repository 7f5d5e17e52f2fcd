#include <gtest/gtest.h>

#include <string>

#include "tools/zorvexplorer/xmlrpc.h"

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

}  // namespace
}  // namespace zorv
