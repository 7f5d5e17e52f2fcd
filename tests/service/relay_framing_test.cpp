#include <gtest/gtest.h>

#include <string>

#include "service/relay.h"
#include "service/service_driver.h"

namespace {

using namespace std::string_literals;

TEST(frame_request, puts_the_http_head_with_the_byte_length_before_the_body) {
    EXPECT_EQ(service::frame_request(""), "POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(service::frame_request("a\0b"s),
              "POST /RPC2 HTTP/1.1\r\nContent-Length: 3\r\n\r\na\0b"s);
}

TEST(format_request_header, fits_the_longest_length) {
    char out[service::max_request_header];
    const std::size_t n = service::format_request_header(out, static_cast<std::size_t>(-1));
    EXPECT_LE(n, service::max_request_header);
    EXPECT_EQ(std::string(out, n).substr(n - 4), "\r\n\r\n");
}

}  // namespace
