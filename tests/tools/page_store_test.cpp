#include "tools/zorvexplorer/pages/page_store.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/sandbox.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(prune_pages, keeps_the_newest_pages_younger_than_the_age_limit_and_nothing_else_goes) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    const auto now = fs::file_time_type::clock::now();
    const auto page = [&](const std::string& name, std::chrono::minutes age) {
        test_support::write_file(dir / name, "<html>");
        fs::last_write_time(dir / name, now - age);
    };
    page("compare-1.html", std::chrono::minutes(50));
    page("compare-2.html", std::chrono::minutes(40));
    page("compare-3.html", std::chrono::minutes(30));
    page("compare-4.html", std::chrono::minutes(20));
    page("compare-5.html", std::chrono::minutes(10));
    page("notes.txt", std::chrono::minutes(500));     // not a page
    page("compare.html", std::chrono::minutes(500));  // not a page of ours
    fs::create_directory(dir / "compare-dir.html");

    EXPECT_EQ(prune_pages(dir.string(), {3, std::chrono::hours(1)}), 2u);
    EXPECT_EQ(names_in(dir),
              (std::set<std::string>{"compare-3.html", "compare-4.html", "compare-5.html",
                                     "notes.txt", "compare.html", "compare-dir.html"}));
    // The age limit removes pages the count would keep.
    EXPECT_EQ(prune_pages(dir.string(), {3, std::chrono::minutes(25)}), 1u);
    EXPECT_FALSE(fs::exists(dir / "compare-3.html"));
    EXPECT_EQ(prune_pages((dir / "missing").string(), {}), 0u);
}

}  // namespace
}  // namespace zorv
