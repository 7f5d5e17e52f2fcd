#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/pipe.h"
#include "tests/support/sandbox.h"

namespace {

struct path_case {
    const char* what;
    std::string name;
    std::string dir;
    std::string expected;
};

TEST(pipe_socket_path, maps_names_into_the_directory_and_refuses_the_rest) {
    const std::string long_dir(80, 'd');
    const path_case cases[] = {
        {"one level", R"(\\.\pipe\alpha)", "/run/p", "/run/p/alpha"},
        {"backslashes become dots",
         R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe_requestjdoe)", "/d",
         "/d/qorva.tarvel.varnex71.zorv_service_pipe_requestjdoe"},
        {"trailing slash of the directory", R"(\\.\pipe\a\b)", "/d/", "/d/a.b"},
        {"prefix in other case", R"(\\.\PIPE\a)", "/d", "/d/a"},
        {"blanks kept", R"(\\.\pipe\a b)", "/d", "/d/a b"},
        {"no prefix", R"(\\.\pip\a)", "/d", ""},
        {"another host", R"(\\server\pipe\a)", "/d", ""},
        {"empty rest", R"(\\.\pipe\)", "/d", ""},
        {"rest maps to dot", R"(\\.\pipe\\)", "/d", ""},
        {"rest maps to dot dot", R"(\\.\pipe\\\)", "/d", ""},
        {"slash would leave the directory", R"(\\.\pipe\..\..\x/y)", "/d", ""},
        {"line feed", "\\\\.\\pipe\\a\nb", "/d", ""},
        {"NUL", std::string("\\\\.\\pipe\\a\0b", 12), "/d", ""},
        {"no directory", R"(\\.\pipe\a)", "", ""},
        {"exactly the longest path", std::string(R"(\\.\pipe\)") + std::string(26, 'n'), long_dir,
         long_dir + "/" + std::string(26, 'n')},
        {"one byte too long, never cut", std::string(R"(\\.\pipe\)") + std::string(27, 'n'),
         long_dir, ""},
    };
    ASSERT_EQ(long_dir.size() + 1 + 26, platform::max_pipe_socket_path);
    for (const auto& c : cases) {
        EXPECT_EQ(platform::pipe_socket_path(c.name, c.dir), c.expected) << c.what;
    }
}

void set_or_unset(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

TEST(pipe_directory, takes_the_override_then_the_runtime_dir_then_tmp) {
    const test_support::sandbox box;  // restores VARNEX_PIPE_DIR
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    const std::string saved = runtime ? runtime : "";
    const std::string tmp = "/tmp/varnex-pipes-" + std::to_string(geteuid());
    const struct {
        const char *pipe_dir, *runtime_dir;
        std::string expected;
    } cases[] = {
        {"/x/pipes", "/run/user/7", "/x/pipes"},
        {nullptr, "/run/user/7", "/run/user/7/varnex-pipes"},
        {"", "/run/user/7", "/run/user/7/varnex-pipes"},
        {nullptr, nullptr, tmp},
        {nullptr, "", tmp},
    };
    for (const auto& c : cases) {
        set_or_unset("VARNEX_PIPE_DIR", c.pipe_dir);
        set_or_unset("XDG_RUNTIME_DIR", c.runtime_dir);
        EXPECT_EQ(platform::pipe_directory(), c.expected) << c.expected;
    }
    set_or_unset("XDG_RUNTIME_DIR", runtime ? saved.c_str() : nullptr);
}

}  // namespace
