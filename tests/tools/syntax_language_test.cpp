#include "tools/zorvexplorer/pages/syntax_language.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tools/zorvexplorer/merge/merge.h"
#include "tools/zorvexplorer/pages/merge_page.h"

namespace zorv {
namespace {

TEST(language_of, reads_the_extension_or_a_well_known_name_through_labels_and_backups) {
    const struct {
        const char* name;
        const char* language;
    } cases[] = {
        {"main.c", "c"},
        {"src/relay.cpp", "cpp"},
        {"relay.h", "cpp"},
        {"relay.HPP", "cpp"},
        {"C:\\src\\Relay.CXX", "cpp"},
        {"Service.java", "java"},
        {"App.cs", "csharp"},
        {"build.gradle.kts", "kotlin"},
        {"tool.py", "python"},
        {"page.mjs", "javascript"},
        {"view.tsx", "typescript"},
        {"package.json", "json"},
        {"install.sh", "shell"},
        {"/home/a/.bashrc", "shell"},
        {"server.go", "go"},
        {"lib.rs", "rust"},
        {"ci.yml", "yaml"},
        {"pom.xml", "xml"},
        {"index.htm", "html"},
        {"Cargo.toml", "toml"},
        {"settings.ini", "ini"},
        {".gitconfig", "ini"},
        {"README.md", "markdown"},
        {"fix.patch", "diff"},
        {"Makefile", "makefile"},
        {"GNUmakefile", "makefile"},
        {"Makefile.am", "makefile"},
        {"rules.mk", "makefile"},
        {"Dockerfile", "dockerfile"},
        {"Dockerfile.dev", "dockerfile"},
        {"CMakeLists.txt", "cmake"},
        {"toolchain.cmake", "cmake"},
        // Labels that version control tools put after the name.
        {"src/relay.cpp (before)", "cpp"},
        {"relay.c\t(revision 12)", "c"},
        {"relay.c (working copy)", "c"},
        // Backups and templates look through to the name before them.
        {"relay.cpp.orig", "cpp"},
        {"relay.py~", "python"},
        {"config.h.in", "cpp"},
        {"old.json.bak.old", "json"},
        // Nothing said: plain.
        {"notes.txt", ""},
        {"README", ""},
        {"archive.tar.gz", ""},
        {".hidden", ""},
        {"src.cpp/notes", ""},
        {"local", ""},
        {"", ""},
        {"cpp", ""},
        {".orig", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(language_of(c.name), c.language);
    }
}

TEST(first_language_of, takes_the_first_name_that_says_one) {
    EXPECT_EQ(first_language_of({"local", "/tmp/merge_LOCAL_42.py"}), "python");
    EXPECT_EQ(first_language_of({"out.go", "a.c"}), "go");
    EXPECT_EQ(first_language_of({"base", "mine"}), "");
    EXPECT_EQ(first_language_of({}), "");
}

TEST(merge_page_language, takes_the_output_then_the_sides_and_loads_the_script_only_then) {
    const struct {
        const char* output;
        const char* ours;
        const char* theirs;
        const char* language;
    } cases[] = {
        {"/src/relay.c", "Mine", "Yours", "c"},
        {"/src/relay.py", "a.c", "b.c", "python"},
        // A temporary output with a name that says nothing; the sides still say it.
        {"/tmp/merged.tmp", "Mine", "relay.go (theirs)", "go"},
        {"/src/notes.q9z", "Mine", "Yours", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        merge_result merged = merge3("a\nb\n", "a\nB\n", "a\nc\n", "Base", c.ours, c.theirs);
        ASSERT_EQ(merged.conflicts, 1u);
        EXPECT_EQ(merge_page_language(merged, c.output), c.language);
        const std::string page = render_merge_page(merged, c.output, std::chrono::seconds(1));
        const std::string script = "<script src=\"" + std::string(merge_syntax_script) + "\">";
        EXPECT_EQ(page.find(script) != std::string::npos, *c.language != '\0');
        EXPECT_EQ(
            page.find("\"language\":\"" + std::string(c.language) + "\"") != std::string::npos,
            *c.language != '\0');
    }
}

}  // namespace
}  // namespace zorv
