// The merge page's server: the HTTP it reads, and a session driven by a stand-in page over
// real loopback connections, with another user's connections against it.
#include "tools/zorvexplorer/server/merge_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "tests/support/loopback_client.h"
#include "tests/support/sandbox.h"
#include "tests/support/second_user.h"
#include "tools/zorvexplorer/pages/merge_page.h"
#include "tools/zorvexplorer/server/http_request.h"
#include "tools/zorvexplorer/server/merge_ui.h"

namespace zorv {
namespace {

using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;

TEST(parse_request_head, reads_request_lines_and_headers_and_refuses_the_rest) {
    const struct {
        const char* head;
        const char* method;  // null: refused
        const char* target;
        const char* host;
    } cases[] = {
        {"GET /t/ HTTP/1.1\r\nHost: 127.0.0.1:5\r\n\r\n", "GET", "/t/", "127.0.0.1:5"},
        {"POST /t/save HTTP/1.0\nHOST:  a:1 \n\n", "POST", "/t/save", "a:1"},
        {"GET /t/ HTTP/1.1\r\n", "GET", "/t/", ""},
        {"GET t/ HTTP/1.1\r\n\r\n", nullptr, nullptr, nullptr},
        {"GET /t/ HTTP/2\r\n\r\n", nullptr, nullptr, nullptr},
        {"GET  /t/ HTTP/1.1\r\n\r\n", nullptr, nullptr, nullptr},
        {"GET /t/ HTTP/1.1\r\n folded: no\r\n\r\n", nullptr, nullptr, nullptr},
        {"GET /t/ HTTP/1.1\r\nno colon\r\n\r\n", nullptr, nullptr, nullptr},
        {"", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        std::string error;
        const auto r = parse_request_head(c.head, error);
        ASSERT_EQ(r.has_value(), c.method != nullptr) << error;
        if (!r) continue;
        EXPECT_EQ(r->method, c.method);
        EXPECT_EQ(r->target, c.target);
        EXPECT_EQ(r->header("host"), c.host);
    }
}

TEST(announced_body_length, takes_one_plain_length_only) {
    const struct {
        std::vector<std::pair<std::string, std::string>> headers;
        std::optional<std::size_t> expected;
    } cases[] = {
        {{}, 0},
        {{{"content-length", "12"}}, 12},
        {{{"content-length", "12"}, {"content-length", "12"}}, 12},
        {{{"content-length", "12"}, {"content-length", "13"}}, std::nullopt},
        {{{"content-length", "-1"}}, std::nullopt},
        {{{"content-length", "1x"}}, std::nullopt},
        {{{"content-length", ""}}, std::nullopt},
        {{{"transfer-encoding", "chunked"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        http_request r;
        r.headers = c.headers;
        EXPECT_EQ(announced_body_length(r), c.expected) << testing::PrintToString(c.headers);
    }
}

TEST(line_carries_prefix, wants_the_whole_prefix_at_the_start_of_the_target) {
    const std::string prefix = "/0123abcd/";
    const struct {
        const char* line;
        bool expected;
    } cases[] = {
        {"GET /0123abcd/ HTTP/1.1", true},
        {"POST /0123abcd/save HTTP/1.1", true},
        {"GET /0123abcd HTTP/1.1", false},
        {"GET /0123abce/ HTTP/1.1", false},
        {"GET / HTTP/1.1", false},
        {"GET http://x/0123abcd/ HTTP/1.1", false},
        {"GET", false},
        {"", false},
        {"GET /0123ABCD/ HTTP/1.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(line_carries_prefix(c.line, prefix), c.expected) << c.line;
}

TEST(form_fields, decodes_every_byte_and_keeps_the_order) {
    const struct {
        const char* body;
        http_fields expected;
    } cases[] = {
        {"c0=left&e0=a+b%0Ac", {{"c0", "left"}, {"e0", "a b\nc"}}},
        {"m1=caf%C3%A9&m0=%E9t%E9", {{"m1", "caf\xC3\xA9"}, {"m0", "\xE9t\xE9"}}},
        {"a&&b=&c=%zz%4", {{"a", ""}, {"b", ""}, {"c", "%zz%4"}}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(form_fields(c.body), c.expected) << c.body;
}

TEST(accepts_coding, reads_the_weights) {
    const struct {
        const char* header;
        bool expected;
    } cases[] = {
        {"gzip, deflate, br, zstd", true},
        {"Deflate", true},
        {"deflate;q=0.5", true},
        {"deflate;q=0", false},
        {"deflate; q=0.000", false},
        {"gzip", false},
        {"", false},
        {"x-deflate", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(accepts_coding(c.header, "deflate"), c.expected) << c.header;
}

TEST(page_text, carries_every_byte_to_the_page_and_no_markup) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a\r\nb\rc\n", "\"a\\nb\\rc\\n\""},
        {"\"q\" \\ \t", "\"\\\"q\\\" \\\\ \\t\""},
        {"</script><!--", "\"\\u003c/script>\\u003c!--\""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        {"caf\xE9", "\"caf\\udce9\""},
        {"\xC3", "\"\\udcc3\""},
        {"\xED\xA0\x80", "\"\\udced\\udca0\\udc80\""},  // a surrogate written in UTF-8
        {"\xC0\xAF", "\"\\udcc0\\udcaf\""},             // overlong
        {std::string("\x01\x7f", 2), "\"\\u0001\\u007f\""},
    };
    for (const auto& c : cases) EXPECT_EQ(page_text(c.text), c.expected) << c.text;
}

// ---- sessions over real connections

using test_support::connect_to_loopback;

// Reads until the peer closes or deadline passes; what came, and whether it closed.
std::pair<std::string, bool> read_to_end(int fd, std::chrono::milliseconds deadline) {
    std::string in;
    const auto end = clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {in, false};
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return {in, true};
        in.append(buffer, static_cast<std::size_t>(n));
    }
}

// One whole request on a connection of its own; the answer, "" when none came in time.
std::string request(int port, const std::string& text, std::chrono::milliseconds deadline = 5s) {
    const int fd = connect_to_loopback(port);
    if (fd < 0) return {};
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    auto [answer, closed] = read_to_end(fd, deadline);
    ::close(fd);
    return closed ? answer : std::string();
}

// A merge session on a thread of its own, with a stand-in browser that is handed the URL.
class session {
  public:
    explicit session(merge_session_options options) {
        merged_ = merge3("a\nb\nc\n", "a\nmine\nc\n", "a\ntheirs\nc\n", "base", "mine", "theirs");
        options.open_page = [this](const std::string& url) {
            url_.set_value(url);
            return true;
        };
        options.log = [](std::string_view) {};
        thread_ = std::thread([this, options] {
            result_.set_value(run_merge_session(
                merged_, "/out.txt",
                [this](const std::string& text) {
                    std::lock_guard lock(mutex_);
                    saved_ = text;
                    return std::string();
                },
                options));
        });
        const std::string url = url_.get_future().get();  // http://127.0.0.1:<port>/<token>/
        const std::size_t colon = url.rfind(':');
        const std::size_t slash = url.find('/', colon);
        port = std::stoi(url.substr(colon + 1, slash - colon - 1));
        prefix = url.substr(slash);
        host = "127.0.0.1:" + std::to_string(port);
        ended_ = result_.get_future();
    }
    ~session() {
        if (ended_.valid() && ended_.wait_for(0s) != std::future_status::ready)
            request(port, post("cancel", ""));
        thread_.join();
    }
    std::string get(const std::string& what) const {
        return "GET " + prefix + what + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    }
    std::string post(const std::string& what, const std::string& body) const {
        return "POST " + prefix + what + " HTTP/1.1\r\nHost: " + host +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    bool ended_within(std::chrono::milliseconds wait) {
        return ended_.wait_for(wait) == std::future_status::ready;
    }
    merge_session_result result() { return ended_.get(); }
    std::string saved() {
        std::lock_guard lock(mutex_);
        return saved_;
    }

    int port = 0;
    std::string prefix, host;

  private:
    merge_result merged_;
    std::promise<std::string> url_;
    std::promise<merge_session_result> result_;
    std::future<merge_session_result> ended_;
    std::thread thread_;
    std::mutex mutex_;
    std::string saved_;
};

TEST(merge_session, a_first_line_without_the_token_closes_the_connection_at_once) {
    merge_session_options options;
    options.heartbeat_limit = 60s;
    session s(options);
    const std::string wrong_token = "/" + std::string(32, '0') + "/";
    // The head is never finished: only the first line decides.
    const std::string lines[] = {"GET / HTTP/1.1\r\n", "GET " + wrong_token + " HTTP/1.1\r\n",
                                 "POST /cancel HTTP/1.1\r\n",
                                 "GET " + s.prefix.substr(0, 20) + " HTTP/1.1\r\n"};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const int fd = connect_to_loopback(s.port);
        ASSERT_GE(fd, 0);
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        const auto [answer, closed] = read_to_end(fd, 2s);
        ::close(fd);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 403 ")) << answer;
    }
    // The token's first line, the rest of the head later: served.
    const int fd = connect_to_loopback(s.port);
    const std::string first = "GET " + s.prefix + " HTTP/1.1\r\n";
    ::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(300ms);
    const std::string rest = "Host: " + s.host + "\r\n\r\n";
    ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    const auto [page, closed] = read_to_end(fd, 5s);
    ::close(fd);
    EXPECT_TRUE(page.starts_with("HTTP/1.1 200 ")) << page.substr(0, 200);
    EXPECT_FALSE(s.ended_within(0ms));
}

TEST(merge_session, a_page_counts_as_open_once_its_script_reports) {
    merge_session_options options;
    options.heartbeat_limit = 300ms;
    options.open_limit = 30s;
    session s(options);
    // A fetch alone (a link preview, curl) opens nothing: the heartbeat's clock waits.
    EXPECT_TRUE(request(s.port, s.get("")).starts_with("HTTP/1.1 200 "));
    EXPECT_FALSE(s.ended_within(1200ms));
    EXPECT_TRUE(request(s.port, s.post("alive", "")).starts_with("HTTP/1.1 204 "));
    EXPECT_TRUE(request(s.port, s.post("save", "c0=right")).starts_with("HTTP/1.1 200 "));
    ASSERT_TRUE(s.ended_within(5s));
    EXPECT_EQ(s.result().end, merge_session_end::saved);
    EXPECT_EQ(s.saved(), "a\ntheirs\nc\n");
}

TEST(merge_session, a_page_never_opened_ends_at_the_open_limit) {
    merge_session_options options;
    options.heartbeat_limit = 100ms;
    options.open_limit = 600ms;
    session s(options);
    EXPECT_TRUE(request(s.port, s.get("")).starts_with("HTTP/1.1 200 "));
    ASSERT_TRUE(s.ended_within(10s));
    const merge_session_result r = s.result();
    EXPECT_EQ(r.end, merge_session_end::closed);
    EXPECT_EQ(r.detail, "the merge page was never opened");
}

// Another user's connections, held while our page reports: 64 that say nothing and 40
// that trickle a header byte at a time, each put back when the server closes it.
int hold_connections(int port, std::chrono::milliseconds how_long) {
    std::vector<int> idle(64, -1);
    std::vector<int> slow(40, -1);
    const auto end = clock::now() + how_long;
    const std::string trickle = "GET /x HTTP/1.1\r\nX-Slow: " + std::string(4096, 'a');
    std::size_t sent = 0;
    while (clock::now() < end) {
        for (int& fd : idle) {
            if (fd < 0) fd = connect_to_loopback(port);
        }
        for (int& fd : slow) {
            if (fd < 0) fd = connect_to_loopback(port);
            if (fd >= 0 &&
                ::send(fd, trickle.data() + sent % trickle.size(), 1, MSG_NOSIGNAL) < 0) {
                ::close(fd);
                fd = -1;
            }
        }
        ++sent;
        // Connections the server closed are opened anew on the next round.
        for (int& fd : idle) {
            pollfd p{fd, POLLIN, 0};
            if (fd >= 0 && ::poll(&p, 1, 0) > 0) {
                ::close(fd);
                fd = -1;
            }
        }
        ::poll(nullptr, 0, 200);
    }
    return 0;
}

TEST(merge_session, another_users_connections_do_not_end_the_page) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    merge_session_options options;
    options.heartbeat_limit = 1500ms;
    session s(options);
    // Our page: a report every 200 ms, each given a second to be answered.
    std::atomic<bool> reporting{true};
    std::atomic<int> answered{0};
    std::thread page([&] {
        while (reporting) {
            if (request(s.port, s.post("alive", ""), 1s).starts_with("HTTP/1.1 204 ")) ++answered;
            std::this_thread::sleep_for(200ms);
        }
    });
    ASSERT_TRUE(test_support::wait_until([&] { return answered > 0; }, 5s));
    const int attack = test_support::run_as(
        *other, [&] { return hold_connections(s.port, 3 * options.heartbeat_limit); }, 30s);
    const bool alive = !s.ended_within(0ms);
    const std::string saved = request(s.port, s.post("save", "c0=left"));
    reporting = false;
    page.join();
    EXPECT_EQ(attack, 0);
    EXPECT_TRUE(alive) << s.result().detail;
    EXPECT_TRUE(saved.starts_with("HTTP/1.1 200 ")) << saved;
    ASSERT_TRUE(s.ended_within(5s));
    EXPECT_EQ(s.result().end, merge_session_end::saved);
    EXPECT_EQ(s.saved(), "a\nmine\nc\n");
}

TEST(merge_page_resolver, offers_no_page_when_no_launcher_file_can_be_written) {
    test_support::sandbox box;
    const auto blocked = box.root() / "blocked";
    std::filesystem::create_directories(blocked);
    // A file where the launcher folder should be: nothing can be written into it.
    test_support::write_file(blocked / "merge", "in the way");
    for (const std::string& work_dir : {std::string(), blocked.string()}) {
        SCOPED_TRACE(work_dir);
        std::vector<std::string> opened;
        std::string log;
        merge_session_options options;
        options.open_page = [&](const std::string& what) {
            opened.push_back(what);
            return true;
        };
        options.log = [&](std::string_view line) { log += std::string(line) + "\n"; };
        const merge_result merged = merge2("a\n", "b\n", "x", "y");
        merge_cancel never;
        const merge_session_result r = merge_page_resolver(work_dir, options)(
            merged, "/out.txt", [](const std::string&) { return std::string(); }, never);
        // The URL with its token would stand on the browser's command line.
        EXPECT_EQ(opened, std::vector<std::string>{});
        EXPECT_EQ(r.end, merge_session_end::not_served);
        EXPECT_NE(log.find("no merge page launcher: "), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace zorv
