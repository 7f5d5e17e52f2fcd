// The output names and temporary file names of the writer, in both styles, on any system.
#include "platform/file_save.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::path_style;

struct name_case {
    path_style style;
    const char* path;
    const char* problem;  // "" when the name may be written
};

TEST(output_name_problem, refuses_relative_names_devices_and_streams) {
    const name_case cases[] = {
        {path_style::posix, "/home/a/out.txt", ""},
        {path_style::posix, "out.txt", "not an absolute path"},
        {path_style::posix, "./out.txt", "not an absolute path"},
        {path_style::posix, "/dev/null", ""},  // the file's type decides on POSIX
        {path_style::windows, R"(C:\work\out.txt)", ""},
        {path_style::windows, "c:/work/out.txt", ""},
        {path_style::windows, R"(D:\work\/out.txt)", ""},
        {path_style::windows, R"(\\srv\share\out.txt)", ""},
        {path_style::windows, R"(\\?\C:\work\out.txt)", ""},
        {path_style::windows, R"(\\?\UNC\srv\share\out.txt)", ""},
        {path_style::windows, "C:\\caf\xE9\\out.txt", ""},
        {path_style::windows, "out.txt", "not an absolute path"},
        {path_style::windows, "C:out.txt", "not an absolute path"},
        {path_style::windows, R"(\work\out.txt)", "not an absolute path"},
        {path_style::windows, R"(C:\work\NUL)", "a device name"},
        {path_style::windows, R"(C:\work\con)", "a device name"},
        {path_style::windows, R"(C:\work\nul.txt)", "a device name"},
        {path_style::windows, R"(C:\work\Aux .log)", "a device name"},
        {path_style::windows, R"(C:\work\COM1)", "a device name"},
        {path_style::windows, "C:\\work\\lpt\xB9", "a device name"},
        {path_style::windows, R"(C:\work\CONOUT$)", "a device name"},
        {path_style::windows, R"(C:\work\COM10)", ""},
        {path_style::windows, R"(C:\work\console.txt)", ""},
        {path_style::windows, R"(C:\work\nullable)", ""},
        {path_style::windows, R"(\\.\C:\work\out.txt)", "a device path"},
        {path_style::windows, R"(\\.\pipe\name)", "a device path"},
        {path_style::windows, R"(\\?\GLOBALROOT\Device\Null)", "a device path"},
        {path_style::windows, R"(//./COM1)", "a device path"},
        {path_style::windows, R"(C:\work\out.txt:hidden)", "names a stream of a file"},
        {path_style::windows, R"(C:\work\)", "names a folder"},
    };
    for (const name_case& c : cases) {
        EXPECT_EQ(platform::output_name_problem(c.path, c.style), c.problem) << c.path;
        if (c.style == path_style::windows) {
            const std::string problem = c.problem;
            EXPECT_EQ(platform::is_windows_device(c.path),
                      problem == "a device name" || problem == "a device path")
                << c.path;
        }
    }
}

TEST(split_folder, keeps_the_root_separator_and_takes_either_slash_on_windows) {
    struct split_case {
        path_style style;
        const char* path;
        const char* folder;
        const char* name;
    };
    const split_case cases[] = {
        {path_style::posix, "/a/b/out.txt", "/a/b", "out.txt"},
        {path_style::posix, "/out.txt", "/", "out.txt"},
        {path_style::posix, R"(/a\b)", "/", R"(a\b)"},
        {path_style::windows, R"(C:\a\out.txt)", R"(C:\a)", "out.txt"},
        {path_style::windows, R"(C:\out.txt)", R"(C:\)", "out.txt"},
        {path_style::windows, R"(C:\a/out.txt)", R"(C:\a)", "out.txt"},
        {path_style::windows, R"(\\srv\share\out.txt)", R"(\\srv\share)", "out.txt"},
    };
    for (const split_case& c : cases) {
        const platform::split_path got = platform::split_folder(c.path, c.style);
        EXPECT_EQ(got.folder, c.folder) << c.path;
        EXPECT_EQ(got.name, c.name) << c.path;
    }
}

TEST(temp_names, are_recognised_for_their_own_target_only) {
    const std::string unique = platform::unique_name_part();
    EXPECT_TRUE(platform::is_temp_name_of(platform::temp_name_for("out.txt", unique), "out.txt"));
    EXPECT_NE(platform::unique_name_part(), unique);
    struct temp_case {
        const char* entry;
        bool is_temp;
    };
    const temp_case cases[] = {
        {".out.txt.1733000000000-41-0.tmp", true},
        {".out.txt.1-2-3.tmp", true},
        {".out.txt.1-2.tmp", false},
        {".out.txt.1-2-3-4.tmp", false},
        {".out.txt.1-x-3.tmp", false},
        {".out.txt.backup.tmp", false},
        {"out.txt.1-2-3.tmp", false},
        {".other.txt.1-2-3.tmp", false},
        {".out.txt.1-2-3.tmp.bak", false},
    };
    for (const temp_case& c : cases) {
        EXPECT_EQ(platform::is_temp_name_of(c.entry, "out.txt"), c.is_temp) << c.entry;
    }
}

}  // namespace
