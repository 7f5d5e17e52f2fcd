// The client served through the real system: front end, relay service and client, from a
// sandbox product tree.
#include <gtest/gtest.h>

#include "common/pipe_names.h"
#include "common/product_runtime.h"
#include "platform/pipe.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/zorvexplorer/text_codec.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

constexpr int failed_status = 255;  // the front end's -1

class client_in_real_system : public testing::Test {
  protected:
    void SetUp() override {
        box.install_product("zorvexplorer");
        fs::create_directories(box.work_dir());
    }
    ~client_in_real_system() override { box.kill_product_processes(); }

    test_support::run_result trelmerge(const std::vector<std::string>& args) {
        std::vector<std::string> argv{(box.product_dir() / "bin" / "trelmerge").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        test_support::run_options options;
        options.cwd = box.work_dir().string();
        options.env = {{"VARNEX_CONNECT_PAUSE_MS", "20"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
        options.deadline = std::chrono::seconds(60);
        return test_support::run_program(argv, options);
    }
    std::string file(const std::string& name, const std::string& data) {
        test_support::write_file(box.work_dir() / name, data);
        return name;
    }
    std::string output(const std::string& name) {
        return test_support::read_file(box.work_dir() / name);
    }
    std::string client_log() const {
        return test_support::read_file(box.user_work_dir() / "zorvexplorer.log");
    }

    test_support::sandbox box;
};

/// A front end's exchange with the running service: the whole answer, "" when dropped.
std::string exchange(const std::string& request) {
    platform::pipe p = platform::pipe::open(launcher_request_pipe_name(sysutl_myloginname()),
                                            platform::pipe_open::read_write);
    std::string answer;
    if (!p.valid() || !p.set_message_read_mode() || !p.write(request)) return answer;
    char buffer[4096];
    for (platform::io_result r{platform::io_status::more_data, 0};
         r.status == platform::io_status::more_data;) {
        r = p.read(buffer, sizeof buffer);
        answer.append(buffer, r.status == platform::io_status::failed ? 0 : r.count);
    }
    return answer;
}

TEST_F(client_in_real_system, calls_it_cannot_serve_get_a_fault_and_it_serves_on) {
    file("a.txt", "x\n");
    ASSERT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
    const std::string names =
        "<param><value><array><data><value><string>a</string></value></data></array></value>"
        "</param>";
    const std::string bad[] = {
        "<methodCall><methodName>RequestHandler.Compare",
        "<methodCall><methodName>RequestHandler.Delete</methodName><params>" + names + names +
            "<param><value><string></string></value></param></params></methodCall>",
        "<methodCall><methodName>RequestHandler.Compare</methodName><params>" + names +
            "</params></methodCall>",
    };
    for (const std::string& call : bad) {
        const std::string answer = exchange(call);
        EXPECT_NE(answer.find("<fault>"), std::string::npos) << call << "\n" << answer;
        EXPECT_EQ(answer.find("<boolean>"), std::string::npos) << answer;
    }
    EXPECT_NE(client_log().find("unknown method RequestHandler.Delete"), std::string::npos);
    EXPECT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
}

TEST_F(client_in_real_system, a_compare_is_answered_true_and_its_page_written) {
    file("a.txt", "one\ntwo\n");
    file("b.txt", "one\n2\n");
    const auto r = trelmerge({"a.txt", "b.txt", "-fname", "left & <a>", "-fname", "right"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err << client_log();
    const std::string log = client_log();
    const std::size_t at = log.find("true: page ");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string page_path = log.substr(at + 11, log.find('\n', at) - at - 11);
    EXPECT_EQ(fs::path(page_path).parent_path(), box.user_work_dir() / "compare");
    const std::string page = test_support::read_file(page_path);
    EXPECT_NE(page.find("left &amp; &lt;a&gt;"), std::string::npos);
}

TEST_F(client_in_real_system, a_clean_merge_is_answered_true_with_the_merged_bytes) {
    file("base.txt", "alpha\nbeta\ngamma\ndelta\nepsilon\n");
    file("ours.txt", "ALPHA\nbeta\ngamma\ndelta\nepsilon\n");
    file("theirs.txt", "alpha\nbeta\ngamma\ndelta\nEPSILON\nzeta\n");
    const auto r = trelmerge({"-base", "base.txt", "ours.txt", "theirs.txt", "-out", "out.txt"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err << client_log();
    EXPECT_EQ(output("out.txt"), "ALPHA\nbeta\ngamma\ndelta\nEPSILON\nzeta\n");
}

TEST_F(client_in_real_system, a_conflicting_merge_is_answered_false_with_the_conflict_marked) {
    file("base.txt", "a\nb\nc\n");
    file("ours.txt", "a\nours\nc\n");
    file("theirs.txt", "a\ntheirs\nc\n");
    const auto r = trelmerge({"-base", "base.txt", "ours.txt", "theirs.txt", "-out", "out.txt",
                              "-fname", "Base", "-fname", "Mine", "-fname", "Yours"});
    EXPECT_EQ(r.exit_code, failed_status) << r.out << r.err;
    EXPECT_EQ(output("out.txt"),
              "a\n<<<<<<< Mine\nours\n||||||| Base\nb\n=======\ntheirs\n>>>>>>> Yours\nc\n");
    EXPECT_NE(client_log().find("1 conflict(s)"), std::string::npos) << client_log();
}

TEST_F(client_in_real_system, every_encoding_goes_in_and_comes_out_byte_for_byte) {
    const struct {
        const char* option;
        text_encoding encoding;
    } cases[] = {
        {"utf-8", text_encoding::utf8},       {"utf-16le", text_encoding::utf16le},
        {"utf-16be", text_encoding::utf16be}, {"utf-32le", text_encoding::utf32le},
        {"utf-32be", text_encoding::utf32be},
    };
    const std::string base = "gr\xC3\xBC\xC3\x9F\ncaf\xC3\xA9\n\xE2\x82\xAC 5\nend\n";
    const std::string ours = "Gr\xC3\xBC\xC3\x9F\ncaf\xC3\xA9\n\xE2\x82\xAC 5\nend\n";
    const std::string theirs = "gr\xC3\xBC\xC3\x9F\ncaf\xC3\xA9\n\xF0\x9F\x98\x80 7\nend\n";
    const std::string merged = "Gr\xC3\xBC\xC3\x9F\ncaf\xC3\xA9\n\xF0\x9F\x98\x80 7\nend\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        for (const bool bom : {true, false}) {
            const std::string out = std::string(c.option) + (bom ? "-bom" : "") + ".out";
            file("b", encode_text(base, c.encoding, bom));
            file("o", encode_text(ours, c.encoding, bom));
            file("t", encode_text(theirs, c.encoding, false));
            const auto r = trelmerge({"-base", "b", "o", "t", "-out", out, "-encoding", c.option});
            EXPECT_EQ(r.exit_code, 0) << r.out << r.err << client_log();
            EXPECT_EQ(output(out), encode_text(merged, c.encoding, bom));
        }
    }
}

TEST_F(client_in_real_system, a_contributor_that_cannot_be_decoded_is_answered_false) {
    file("good.txt", encode_text("fine\n", text_encoding::utf16le, true));
    // A BOM, "fin" and half a code unit.
    file("odd.txt", std::string("\xFF\xFE"
                                "f\0i\0n\0e",
                                9));
    const auto r = trelmerge({"good.txt", "odd.txt", "-encoding", "utf-16le"});
    EXPECT_EQ(r.exit_code, failed_status) << r.out << r.err;
    EXPECT_NE(client_log().find("odd.txt: invalid UTF-16LE data at byte 8"), std::string::npos)
        << client_log();
}

}  // namespace
}  // namespace zorv
