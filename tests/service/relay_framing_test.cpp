#include <gtest/gtest.h>

#include <string>

#include "service/relay.h"
#include "service/service_driver.h"

namespace {

using namespace std::string_literals;

TEST(FrameRequest, PutsTheHttpHeadWithTheByteLengthBeforeTheBody) {
    struct row {
        std::string body;
        std::string expected;
    };
    const row rows[] = {
        {"", "POST /RPC2 HTTP/1.1\r\nContent-Length: 0\r\n\r\n"},
        {"<x/>", "POST /RPC2 HTTP/1.1\r\nContent-Length: 4\r\n\r\n<x/>"},
        // Every byte counts and is kept, a NUL and multi-byte text included.
        {"a\0b"s, "POST /RPC2 HTTP/1.1\r\nContent-Length: 3\r\n\r\na\0b"s},
        {"\xc3\xa4\xc3\xb6", "POST /RPC2 HTTP/1.1\r\nContent-Length: 4\r\n\r\n\xc3\xa4\xc3\xb6"},
    };
    for (const row& r : rows) EXPECT_EQ(frame_request(r.body), r.expected);
}

TEST(FrameRequest, CountsLargeBodies) {
    const std::string body(1 << 20, 'x');
    const std::string framed = frame_request(body);
    EXPECT_EQ(framed.substr(0, 46), "POST /RPC2 HTTP/1.1\r\nContent-Length: 1048576\r\n");
    EXPECT_EQ(framed.size(), 48 + body.size());
}

TEST(FormatRequestHeader, FitsTheLongestLength) {
    char out[max_request_header];
    const std::size_t n = format_request_header(out, static_cast<std::size_t>(-1));
    EXPECT_LE(n, max_request_header);
    EXPECT_EQ(std::string(out, n).substr(n - 4), "\r\n\r\n");
}

TEST(PairAnnouncement, IsRequestNameThenResponseNameEachEndedByALineFeed) {
    EXPECT_EQ(pair_announcement("req", "resp"), "req\nresp\n");
}

}  // namespace
