// The script that coloured compare pages share: written once beside them, kept while a page
// names it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "tests/support/sandbox.h"
#include "tools/zorvexplorer/files/file_io.h"
#include "tools/zorvexplorer/pages/compare_page.h"
#include "tools/zorvexplorer/pages/page_store.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

void age(const fs::path& file, hours by) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - by);
}

std::string page_naming(const std::string& script) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<script src=\"" + script +
           "\"></script>\n<title>Compare</title>";
}

TEST(shared_script_name, carries_the_scripts_digest) {
    EXPECT_EQ(shared_script_name("abc"), "syntax-ba7816bf8f01cfea.js");
    EXPECT_NE(shared_script_name("abc"), shared_script_name("abd"));
}

TEST(keep_shared_script, writes_it_once_privately_and_mends_what_is_not_it) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir() / "compare";  // not there yet
    const std::string script = "globalThis.colours = 1;\n";
    const std::string name = shared_script_name(script);
    const fs::path path = dir / name;
    const fs::path elsewhere = box.work_dir() / "elsewhere.js";
    test_support::write_file(elsewhere, "someone's file");

    ASSERT_EQ(keep_shared_script(dir.string(), name, script), "");
    EXPECT_EQ(test_support::read_file(path), script);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const ino_t first = st.st_ino;

    // The same bytes stay as they are, marked fresh.
    age(path, hours(5));
    ASSERT_EQ(keep_shared_script(dir.string(), name, script), "");
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, first);
    EXPECT_GT(fs::last_write_time(path), fs::file_time_type::clock::now() - hours(1));

    // Anything else under its name is replaced whole: a cut file, a longer one, a link.
    const struct {
        const char* what;
        std::function<void()> spoil;
    } cases[] = {
        {"cut short", [&] { test_support::write_file(path, script.substr(0, 5)); }},
        {"longer", [&] { test_support::write_file(path, script + "alert(1);\n"); }},
        {"a link",
         [&] {
             fs::remove(path);
             fs::create_symlink(elsewhere, path);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil();
        ASSERT_EQ(keep_shared_script(dir.string(), name, script), "");
        EXPECT_FALSE(fs::is_symlink(path));
        EXPECT_EQ(test_support::read_file(path), script);
    }
    EXPECT_EQ(test_support::read_file(elsewhere), "someone's file");
    EXPECT_EQ(names_in(dir), std::set<std::string>{name});

    // A folder in its place cannot be replaced: said, and no temporary file stays.
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_NE(keep_shared_script(dir.string(), name, script), "");
    EXPECT_EQ(names_in(dir), std::set<std::string>{name});
}

TEST(prune_shared_scripts, keeps_a_script_while_a_page_names_it_or_it_is_fresh) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    const std::string named = shared_script_name("named"), unnamed = shared_script_name("old"),
                      fresh = shared_script_name("fresh");
    const std::string old_temporary = shared_script_name("cut") + "-1700000000000-42-0.tmp";
    const std::string new_temporary = fresh + "-1700000000001-42-1.tmp";
    for (const std::string& name : {named, unnamed, old_temporary})
        test_support::write_file(dir / name, "script");
    for (const std::string& name : {fresh, new_temporary})
        test_support::write_file(dir / name, "script");
    for (const std::string& name : {named, unnamed, old_temporary}) age(dir / name, hours(2));
    test_support::write_file(dir / "compare-1.html", page_naming(named));
    test_support::write_file(dir / "compare-2.html", page_naming(shared_script_name("gone")));
    test_support::write_file(dir / "compare-3.html", "<html>plain</html>");
    // Not ours, or not a script by its name: left alone however old.
    for (const char* other :
         {"syntax-notes.js", "syntax-0123.js", "syntax-0123456789ABCDEF.js", "other.tmp"}) {
        test_support::write_file(dir / other, "x");
        age(dir / other, hours(2));
    }

    EXPECT_EQ(prune_shared_scripts(dir.string()), 2u);
    EXPECT_EQ(names_in(dir),
              (std::set<std::string>{named, fresh, new_temporary, "compare-1.html",
                                     "compare-2.html", "compare-3.html", "syntax-notes.js",
                                     "syntax-0123.js", "syntax-0123456789ABCDEF.js", "other.tmp"}));
    // Once no page names it, it goes; so does a fresh one once it is no longer fresh.
    fs::remove(dir / "compare-1.html");
    EXPECT_EQ(prune_shared_scripts(dir.string()), 1u);
    EXPECT_FALSE(fs::exists(dir / named));
    EXPECT_EQ(prune_shared_scripts(dir.string(), std::chrono::seconds(0)), 2u);
    EXPECT_FALSE(fs::exists(dir / fresh));
    EXPECT_EQ(prune_shared_scripts((dir / "missing").string()), 0u);
}

TEST(prune_shared_scripts, keeps_the_script_a_coloured_compare_page_names) {
    test_support::sandbox box;
    const std::string dir = (box.work_dir() / "compare").string();
    const std::vector<std::string> names = {"a.cpp", "b.cpp"};
    const std::vector<std::string> texts = {"int a;\n", "int b;\n"};
    const compare_page plain = build_compare_page(names, texts);
    EXPECT_EQ(plain.shared_script, "");
    EXPECT_EQ(plain.html.find(shared_script_prefix), std::string::npos);

    const compare_page coloured = build_compare_page(names, texts, {}, {"cpp", ""});
    ASSERT_EQ(coloured.shared_script, shared_script_name(colouring_script()));
    EXPECT_LT(coloured.html.find(coloured.shared_script), shared_script_reach);
    EXPECT_NE(coloured.html.find(R"(\"languages\":[\"cpp\",\"\"])"), std::string::npos);
    std::string error;
    ASSERT_NE(
        write_unique_file(dir, compare_page_prefix, compare_page_suffix, coloured.html, error), "")
        << error;
    ASSERT_EQ(keep_shared_script(dir, coloured.shared_script, colouring_script()), "");
    age(fs::path(dir) / coloured.shared_script, hours(2));
    EXPECT_EQ(prune_shared_scripts(dir), 0u);
    EXPECT_EQ(test_support::read_file(fs::path(dir) / coloured.shared_script), colouring_script());
}

}  // namespace
}  // namespace zorv
