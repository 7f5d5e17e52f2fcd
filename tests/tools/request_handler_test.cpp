// The client served through the real system: front end, relay service and client, from a
// sandbox product tree.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "tests/support/front_end_exchange.h"
#include "tests/support/installed_product.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/transport/xmlrpc.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

constexpr int failed_status = 255;  // the front end's -1

class client_in_real_system : public testing::Test, public test_support::installed_product {
  protected:
    client_in_real_system() {
        box.install_product("zorvexplorer");
        // No desktop, and no browser of the user's unless a test names one.
        env.insert({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"BROWSER", ""}});
    }
    ~client_in_real_system() override { box.kill_product_processes(); }

    std::string output(const std::string& name) { return read(name); }
    std::string client_log() const { return work_file("zorvexplorer.log"); }
};

/// A front end's exchange with the running service: the whole answer, "" when dropped.
std::string exchange(const std::string& request) {
    return test_support::exchange(request).value_or("");
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

namespace zorv {
namespace {

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

TEST_F(client_in_real_system, byte_order_marks_alone_decide_the_encoding_of_a_merge) {
    const struct {
        const char* what;
        text_encoding encoding;
    } cases[] = {
        {"UTF-16LE", text_encoding::utf16le},
        {"UTF-16BE", text_encoding::utf16be},
        {"UTF-32LE", text_encoding::utf32le},
        {"UTF-8", text_encoding::utf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        file("b", encode_text("a\nb\nc\n", c.encoding, true));
        file("o", encode_text("a\nours\nc\n", c.encoding, true));
        file("t", encode_text("a\ntheirs\nc\n", c.encoding, true));
        const auto conflict = trelmerge({"-base", "b", "o", "t", "-out", "conflict.out", "-fname",
                                         "B", "-fname", "O", "-fname", "T"});
        EXPECT_EQ(conflict.exit_code, failed_status) << client_log();
        EXPECT_EQ(output("conflict.out"),
                  encode_text("a\n<<<<<<< O\nours\n||||||| B\nb\n=======\ntheirs\n>>>>>>> T\nc\n",
                              c.encoding, true));
        file("t", encode_text("a\nb\nC\n", c.encoding, true));
        file("o", encode_text("A\nb\nc\n", c.encoding, true));
        const auto clean = trelmerge({"-base", "b", "o", "t", "-out", "clean.out"});
        EXPECT_EQ(clean.exit_code, 0) << client_log();
        EXPECT_EQ(output("clean.out"), encode_text("A\nb\nC\n", c.encoding, true));
    }
}

TEST_F(client_in_real_system, binary_files_are_compared_by_digest_and_never_merged) {
    std::string binary;
    for (int i = 0; i < 1024; ++i) binary += static_cast<char>(i % 256);
    file("one.bin", binary);
    file("two.bin", binary.substr(0, 1000));
    file("out.bin", "keep me");
    const auto merge = trelmerge({"one.bin", "two.bin", "-out", "out.bin"});
    EXPECT_EQ(merge.exit_code, failed_status);
    EXPECT_EQ(output("out.bin"), "keep me");
    EXPECT_NE(client_log().find("one.bin is a binary file; "), std::string::npos) << client_log();

    const auto compare = trelmerge({"one.bin", "two.bin"});
    EXPECT_EQ(compare.exit_code, 0) << client_log();
    const std::string log = client_log();
    const std::size_t at = log.find("true: page ");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string page =
        test_support::read_file(log.substr(at + 11, log.find('\n', at) - at - 11));
    EXPECT_NE(page.find("binary files differ"), std::string::npos);
    EXPECT_NE(page.find("1024 bytes"), std::string::npos);
    EXPECT_NE(page.find("1000 bytes"), std::string::npos);
    EXPECT_EQ(page.find("\xEF\xBF\xBD"), std::string::npos);  // no byte shown as text
}

/// A call of method with an output (merge only), two contributors and no type name.
std::string call(std::string_view method, const std::string& output, const std::string& a,
                 const std::string& b) {
    const auto str = [](const std::string& v) {
        return "<value><string>" + v + "</string></value>";
    };
    std::string xml = "<methodCall><methodName>" + std::string(method) + "</methodName><params>";
    if (!output.empty()) xml += "<param>" + str(output) + "</param>";
    xml += "<param><value><array><data>" + str("a") + str("b") + "</data></array></value></param>";
    xml += "<param><value><array><data>" + str(a) + str(b) + "</data></array></value></param>";
    return xml + "<param>" + str("") + "</param></params></methodCall>";
}

// Straight to the client: the front end has checks of its own for such files.
TEST_F(client_in_real_system,
       an_endless_or_oversized_contributor_is_answered_false_and_it_serves_on) {
    file("a.txt", "x\n");
    // Sparse: three gigabytes that take no room on disk.
    file("huge.txt", "");
    fs::resize_file(box.work_dir() / "huge.txt", 3ull << 30);
    ASSERT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
    const std::string a = (box.work_dir() / "a.txt").string();
    const struct {
        std::string contributor;
        const char* logged;
    } rows[] = {
        {"/dev/zero", "/dev/zero: not a regular file"},
        {(box.work_dir() / "huge.txt").string(),
         "huge.txt: larger than the limit of 268435456 bytes"},
    };
    for (const auto& r : rows) {
        for (const std::string_view method :
             {"RequestHandler.Compare", "RequestHandler.CompareMerge"}) {
            const std::string output =
                method == "RequestHandler.Compare" ? "" : (box.work_dir() / "out.txt").string();
            const std::string answer = exchange(call(method, output, a, r.contributor));
            EXPECT_NE(answer.find("<boolean>0</boolean>"), std::string::npos) << answer;
            EXPECT_EQ(count_of(client_log(), r.logged),
                      method == "RequestHandler.Compare" ? 1u : 2u)
                << client_log();
        }
        EXPECT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
    }
    EXPECT_FALSE(fs::exists(box.work_dir() / "out.txt"));
}

TEST_F(client_in_real_system, a_relative_output_is_refused_and_nothing_is_written) {
    file("a.txt", "x\n");
    ASSERT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
    const std::string abs = (box.work_dir() / "a.txt").string();
    const std::string answer =
        exchange(call("RequestHandler.CompareMerge", "relative.out", abs, abs));
    EXPECT_NE(answer.find("<boolean>0</boolean>"), std::string::npos) << answer;
    EXPECT_NE(client_log().find("relative.out: not an absolute path"), std::string::npos)
        << client_log();
    EXPECT_FALSE(fs::exists(box.product_dir() / "ZorvHome" / "relative.out"));
}

// The client's process id, found by its executable in the product tree.
int client_pid(const fs::path& executable) {
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::error_code ec;
        if (fs::read_symlink(e.path() / "exe", ec) == executable)
            return std::stoi(e.path().filename().string());
    }
    return -1;
}

struct children {
    int alive = 0;
    int dead = 0;  // zombies
};

children children_of(int pid) {
    children c;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string stat = test_support::read_file(e.path() / "stat");
        const std::size_t paren = stat.rfind(')');
        if (paren == std::string::npos || paren + 4 > stat.size()) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + paren + 1, " %c %d", &state, &ppid) != 2) continue;
        if (ppid != pid) continue;
        (state == 'Z' ? c.dead : c.alive)++;
    }
    return c;
}

TEST_F(client_in_real_system, a_burst_of_compares_on_a_desktop_leaves_no_dead_children) {
    // A stand-in opener that notes each page it is given and ends at once.
    const fs::path bin = box.root() / "fake-bin";
    const fs::path opened = box.root() / "opened";
    fs::create_directories(bin);
    test_support::write_file(bin / "xdg-open",
                             "#!/bin/sh\necho \"$1\" >> " + opened.string() + "\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::map<std::string, std::string> desktop = {
        {"DISPLAY", ":99"}, {"PATH", bin.string() + ":" + std::getenv("PATH")}};
    file("a.txt", "one\n");
    file("b.txt", "two\n");
    constexpr int burst = 20;
    for (int i = 0; i < burst; ++i) {
        ASSERT_EQ(trelmerge({"a.txt", "b.txt"}, desktop).exit_code, 0) << client_log();
    }
    ASSERT_TRUE(test_support::wait_until([&] {
        return count_of(test_support::read_file(opened), "\n") == burst;
    })) << test_support::read_file(opened);
    const int pid = client_pid(box.product_dir() / "ZorvHome" / "zorvexplorer");
    ASSERT_GT(pid, 0);
    // Every opener has ended; none may stay behind as a zombie.
    ASSERT_TRUE(test_support::wait_until([&] { return children_of(pid).alive == 0; }));
    EXPECT_EQ(children_of(pid).dead, 0);
}

TEST_F(client_in_real_system, compare_pages_open_through_the_browser_setting_then_xdg_open) {
    // Stand-ins for a browser and for xdg-open that note what they are given.
    const fs::path bin = box.root() / "fake-bin";
    fs::create_directories(bin);
    for (const char* program : {"browser", "xdg-open"}) {
        test_support::write_file(
            bin / program, "#!/bin/sh\necho \"$1\" >> " + (box.root() / program).string() + "\n");
        fs::permissions(bin / program, fs::perms::owner_all);
    }
    const std::string path = bin.string() + ":" + std::getenv("PATH");
    const struct {
        const char* what;
        std::map<std::string, std::string> env;
        const char* opened_by;  // null: the page is only written
    } cases[] = {
        {"$BROWSER first",
         {{"DISPLAY", ":99"}, {"BROWSER", (bin / "browser").string()}},
         "browser"},
        {"xdg-open without it", {{"DISPLAY", ":99"}, {"BROWSER", ""}}, "xdg-open"},
        {"nothing without a desktop", {{"BROWSER", (bin / "browser").string()}}, nullptr},
    };
    file("a.txt", "one\n");
    file("b.txt", "two\n");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case gets a service and client of its own (folders of their own), started
        // with the case's environment.
        const fs::path own = box.root() / ("case" + std::to_string(n++));
        for (const char* folder : {"tmp", "pipes"}) {
            fs::create_directories(own / folder);
            fs::permissions(own / folder, fs::perms::owner_all);
        }
        for (const char* program : {"browser", "xdg-open"}) fs::remove(box.root() / program);
        auto env = c.env;
        env["PATH"] = path;
        env["TMPDIR"] = (own / "tmp").string();
        env["VARNEX_PIPE_DIR"] = (own / "pipes").string();
        const fs::path client_log =
            own / "tmp" / box.user_work_dir().filename() / "zorvexplorer.log";
        const auto run = trelmerge({"a.txt", "b.txt"}, env);
        const std::string log = test_support::read_file(client_log);
        ASSERT_EQ(run.exit_code, 0) << log;
        const std::size_t at = log.rfind("true: page ");
        ASSERT_NE(at, std::string::npos) << log;
        const std::string page = log.substr(at + 11, log.find('\n', at) - at - 11);
        if (c.opened_by == nullptr) {
            EXPECT_NE(log.find("compare page written (no desktop to show it)"), std::string::npos);
            continue;
        }
        // The stand-in's file exists before its line is written: wait for the line.
        ASSERT_TRUE(test_support::wait_until(
            [&] { return test_support::read_file(box.root() / c.opened_by).ends_with('\n'); },
            std::chrono::seconds(10)));
        EXPECT_EQ(test_support::read_file(box.root() / c.opened_by), page + "\n");
    }
    EXPECT_FALSE(fs::exists(box.root() / "xdg-open"));
}

TEST_F(client_in_real_system, merge_page_launchers_left_by_a_killed_client_go_at_start) {
    const fs::path launchers = box.user_work_dir() / "merge";
    fs::create_directories(launchers);
    fs::permissions(box.user_work_dir(), fs::perms::owner_all);
    for (const char* name : {"merge-old.html", "merge-fresh.html", "notes.txt", "merge-old.txt"})
        test_support::write_file(launchers / name, "<meta http-equiv=refresh>");
    const auto hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"merge-old.html", "notes.txt", "merge-old.txt"})
        fs::last_write_time(launchers / name, hour_ago);
    file("a.txt", "a\n");
    ASSERT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0) << client_log();
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(launchers)) names.insert(e.path().filename());
    // A launcher younger than a page's opening time may belong to a page still opening.
    EXPECT_EQ(names, (std::set<std::string>{"merge-fresh.html", "notes.txt", "merge-old.txt"}));
}

TEST_F(client_in_real_system, compare_pages_are_pruned_at_start_and_after_each_page) {
    const fs::path pages = box.user_work_dir() / "compare";
    fs::create_directories(pages);
    fs::permissions(box.user_work_dir(), fs::perms::owner_all);
    const auto now = fs::file_time_type::clock::now();
    for (int age = 1; age <= 6; ++age) {
        const fs::path p = pages / ("compare-old" + std::to_string(age) + ".html");
        test_support::write_file(p, "<html>");
        fs::last_write_time(p, now - std::chrono::minutes(age));
    }
    test_support::write_file(pages / "compare-ancient.html", "<html>");
    fs::last_write_time(pages / "compare-ancient.html", now - std::chrono::hours(24 * 10));
    test_support::write_file(pages / "notes.txt", "mine");
    const std::map<std::string, std::string> limits = {{"VARNEX_CLIENT_KEEP_PAGES", "3"}};
    const auto names_in = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(pages)) names.insert(e.path().filename());
        return names;
    };

    // A merge writes no page: what goes, goes at the client's start.
    file("a.txt", "a\n");
    ASSERT_EQ(trelmerge({"a.txt", "a.txt", "-out", "m.out"}, limits).exit_code, 0);
    EXPECT_EQ(names_in(), (std::set<std::string>{"compare-old1.html", "compare-old2.html",
                                                 "compare-old3.html", "notes.txt"}));
    for (int i = 0; i < 4; ++i) ASSERT_EQ(trelmerge({"a.txt", "a.txt"}).exit_code, 0);
    const std::set<std::string> left = names_in();
    EXPECT_EQ(left.size(), 4u);
    EXPECT_TRUE(left.count("notes.txt"));
    for (const std::string& name : left) EXPECT_EQ(name.find("compare-old"), std::string::npos);
}

TEST_F(client_in_real_system, a_merge_page_ends_unsaved_when_its_front_end_goes_away) {
    // A stand-in browser that notes the page it is given; nobody looks at the page.
    const fs::path browser = box.root() / "browser";
    const fs::path given = box.root() / "given";
    test_support::write_file(browser, "#!/bin/sh\necho \"$1\" >> " + given.string() + "\n");
    fs::permissions(browser, fs::perms::owner_all);
    file("base.txt", "a\nb\nc\n");
    file("ours.txt", "a\nours\nc\n");
    file("theirs.txt", "a\ntheirs\nc\n");
    test_support::background_program front_end =
        start("trelmerge", {"-base", "base.txt", "ours.txt", "theirs.txt", "-out", "out.txt"},
              {{"ZORV_MERGE_UI", "browser"}, {"BROWSER", browser.string()}});
    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(given); })) << client_log();
    // As an aborted mergetool ends it.
    ::kill(front_end.pid(), SIGTERM);
    EXPECT_NE(front_end.wait(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(test_support::wait_until([&] {
        return client_log().find("false: the front end went away before the merge was resolved; " +
                                 (box.work_dir() / "out.txt").string() + " left as it was") !=
               std::string::npos;
    })) << client_log();
    EXPECT_FALSE(fs::exists(box.work_dir() / "out.txt"));
}

}  // namespace
}  // namespace zorv
