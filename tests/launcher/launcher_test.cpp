#include "launcher/launcher.h"

#include <gtest/gtest.h>

namespace {

using platform::path_style;

TEST(FrontendProgramPath, IsTrelmergeInTheProductsBinFolder) {
    EXPECT_EQ(frontend_program_path(R"(C:\Prod)", path_style::windows),
              R"(C:\Prod\bin\trelmerge.exe)");
    EXPECT_EQ(frontend_program_path("/opt/prod", path_style::posix), "/opt/prod/bin/trelmerge");
}

TEST(LauncherArgv, KeepsUserArgumentsUnchangedAndAppendsTheEncoding) {
    struct row {
        std::vector<std::string> user;
    };
    const row rows[] = {
        {{}},
        {{"a.txt", "b.txt"}},
        {{"with blank", "", "quote\"inside", "trailing\\", "-encoding", "utf-16le"}},
        // An option still waiting for its value meets -encoding there; the front end rejects it.
        {{"a", "b", "-out"}},
    };
    for (const row& r : rows) {
        std::vector<std::string> expected{"/p/bin/trelmerge"};
        expected.insert(expected.end(), r.user.begin(), r.user.end());
        expected.push_back("-encoding");
        expected.push_back("utf-8");
        EXPECT_EQ(launcher_argv("/p/bin/trelmerge", r.user), expected);
    }
}

}  // namespace
