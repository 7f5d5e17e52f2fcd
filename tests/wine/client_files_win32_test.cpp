// The Windows backends of the client's files: the output writer's rules, reading
// contributors and the folders of pages, run under Windows or wine with wide names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/display_text.h"
#include "platform/file_read.h"
#include "platform/file_save.h"
#include "platform/folder.h"
#include "platform/text_win32.h"
#include "tools/zorvexplorer/pages/page_store.h"

namespace {

namespace fs = std::filesystem;
using platform::narrow_from_wide;
using platform::wide_from_narrow;

const std::string new_text = "new text\r\n";

// A folder of its own under the temporary directory whose name is not ASCII, in the
// system's code page; removed at the end.
class test_folder {
  public:
    test_folder() {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        wide_ = std::wstring(base) + L"varnex \u00c4rger-caf\u00e9 " +
                std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter_++);
        CreateDirectoryW(wide_.c_str(), nullptr);
        path_ = narrow_from_wide(wide_);
    }
    ~test_folder() {
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(fs::path(wide_), ignored))
            SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(fs::path(wide_), ignored);
    }
    test_folder(const test_folder&) = delete;
    test_folder& operator=(const test_folder&) = delete;

    /// The folder in the code page, as the client gets paths.
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }
    /// False when the code page cannot hold the folder's name.
    bool round_trips() const { return wide_from_narrow(path_) == wide_; }

  private:
    static inline int counter_ = 0;
    std::wstring wide_;
    std::string path_;
};

std::wstring wide(const std::string& path) { return wide_from_narrow(path); }

void put(const std::string& path, std::string_view data) {
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
}

std::string get(const std::string& path) {
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(missing)";
    std::string data(1 << 16, '\0');
    DWORD n = 0;
    ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
    data.resize(n);
    return data;
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(wide(dir))))
        names.insert(narrow_from_wide(e.path().filename().wstring()));
    return names;
}

void set_write_time(const std::string& path, WORD year) {
    const HANDLE h = CreateFileW(wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = 1;
    st.wDay = 1;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

// Each case prepares its folder, saves new_text to the output it names and checks.
struct save_case {
    const char* what;
    std::function<std::string(const test_folder&)> prepare;  // the output path
    const char* refusal;  // a part of the reason, or nullptr when written
    std::function<void(const test_folder&)> check = [](const test_folder&) {};
};

const save_case save_cases[] = {
    {"a new file under a folder whose name is not ASCII",
     [](const test_folder& d) { return d / "out.txt"; }, nullptr,
     [](const test_folder& d) {
         EXPECT_EQ(get(d / "out.txt"), new_text);
         EXPECT_EQ(names_in(d.path()), std::set<std::string>{"out.txt"});
     }},
    {"an existing file is replaced and keeps its attributes",
     [](const test_folder& d) {
         put(d / "out.txt", "old\r\n");
         SetFileAttributesW(wide(d / "out.txt").c_str(),
                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
         return d / "out.txt";
     },
     nullptr,
     [](const test_folder& d) {
         EXPECT_EQ(get(d / "out.txt"), new_text);
         EXPECT_TRUE(GetFileAttributesW(wide(d / "out.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
         EXPECT_EQ(names_in(d.path()), std::set<std::string>{"out.txt"});
     }},
    {"a read-only file is refused",
     [](const test_folder& d) {
         put(d / "out.txt", "old\r\n");
         SetFileAttributesW(wide(d / "out.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         return d / "out.txt";
     },
     "out.txt: read-only; left untouched",
     [](const test_folder& d) { EXPECT_EQ(get(d / "out.txt"), "old\r\n"); }},
    {"a folder is refused",
     [](const test_folder& d) {
         CreateDirectoryW(wide(d / "sub").c_str(), nullptr);
         return d / "sub";
     },
     "sub: a folder; left untouched",
     [](const test_folder& d) { EXPECT_EQ(names_in(d.path()), std::set<std::string>{"sub"}); }},
    {"NUL is refused", [](const test_folder& d) { return d / "NUL"; }, "NUL: a device name"},
    {"a device name with an extension is refused",
     [](const test_folder& d) { return d / "con.txt"; }, "con.txt: a device name"},
    {"COM1 is refused", [](const test_folder& d) { return d / "COM1"; }, "COM1: a device name"},
    {"a device path is refused", [](const test_folder&) { return std::string(R"(\\.\NUL)"); },
     "a device path"},
    {"a relative name is refused", [](const test_folder&) { return std::string("out.txt"); },
     "out.txt: not an absolute path"},
    {"a name relative to a drive's folder is refused",
     [](const test_folder&) { return std::string("C:out.txt"); }, "not an absolute path"},
    {"a stream of a file is refused",
     [](const test_folder& d) {
         put(d / "out.txt", "old\r\n");
         return d / "out.txt:hidden";
     },
     "names a stream of a file",
     [](const test_folder& d) { EXPECT_EQ(get(d / "out.txt"), "old\r\n"); }},
    {"temporary files that a killed run left are removed, others stay",
     [](const test_folder& d) {
         put(d / ".out.txt.1000-2-3.tmp", "left by a killed run");
         set_write_time(d / ".out.txt.1000-2-3.tmp", 2001);
         put(d / ".other.txt.1000-2-3.tmp", "another output's");
         set_write_time(d / ".other.txt.1000-2-3.tmp", 2001);
         put(d / ".out.txt.4000-5-6.tmp", "newer than this process");
         return d / "out.txt";
     },
     nullptr,
     [](const test_folder& d) {
         EXPECT_EQ(names_in(d.path()), (std::set<std::string>{".other.txt.1000-2-3.tmp",
                                                              ".out.txt.4000-5-6.tmp", "out.txt"}));
     }},
};

TEST(save_file_win32, replaces_as_an_editor_would_and_refuses_what_is_no_file) {
    for (const save_case& c : save_cases) {
        SCOPED_TRACE(c.what);
        test_folder dir;
        if (!dir.round_trips()) GTEST_SKIP() << "the code page cannot hold the folder's name";
        const std::string out = c.prepare(dir);
        const std::string error = platform::save_file(out, new_text);
        if (c.refusal == nullptr) {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        }
        c.check(dir);
    }
}

TEST(save_file_win32, refuses_a_file_held_open_without_sharing_and_leaves_it_whole) {
    test_folder dir;
    put(dir / "out.txt", "old text that is longer\r\n");
    struct holder {
        const char* what;
        DWORD share;
    };
    // Replacing needs others to share writing and deleting.
    for (const holder h : {holder{"no sharing", 0}, holder{"reading shared", FILE_SHARE_READ},
                           holder{"no deleting", FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        SCOPED_TRACE(h.what);
        const HANDLE held = CreateFileW(wide(dir / "out.txt").c_str(), GENERIC_READ, h.share,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const std::string error = platform::save_file(dir / "out.txt", new_text);
        CloseHandle(held);
        EXPECT_NE(error.find("in use by another program"), std::string::npos) << error;
        EXPECT_EQ(get(dir / "out.txt"), "old text that is longer\r\n");
        EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"out.txt"});
    }
    EXPECT_EQ(platform::save_file(dir / "out.txt", new_text), "");
    EXPECT_EQ(get(dir / "out.txt"), new_text);
}

TEST(read_regular_file_win32, reads_files_and_refuses_devices_and_folders_unopened) {
    test_folder dir;
    put(dir / "small", "0123456789");
    CreateDirectoryW(wide(dir / "sub").c_str(), nullptr);
    struct row {
        std::string path;
        std::uint64_t limit;
        platform::read_status status;
        const char* data;
    };
    const row rows[] = {
        {dir / "small", 10, platform::read_status::ok, "0123456789"},
        {dir / "small", 9, platform::read_status::too_large, ""},
        {dir / "sub", 10, platform::read_status::not_regular, ""},
        {"NUL", 10, platform::read_status::not_regular, ""},
        {dir / "con.txt", 10, platform::read_status::not_regular, ""},
        {R"(\\.\pipe\varnex-none)", 10, platform::read_status::not_regular, ""},
        {dir / "missing", 10, platform::read_status::failed, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        const platform::file_contents got = platform::read_regular_file(r.path, r.limit);
        EXPECT_EQ(got.status, r.status) << got.reason;
        EXPECT_EQ(got.data, r.data);
        EXPECT_EQ(got.reason.empty(), r.status != platform::read_status::failed);
    }
}

TEST(folder_win32, makes_folders_new_files_and_lists_and_removes_its_own) {
    test_folder dir;
    const std::string pages = dir / "compare\\d\xe9ja";
    EXPECT_EQ(platform::make_folders(pages), "");
    EXPECT_EQ(platform::make_folders(pages), "");
    const std::string page = pages + "\\compare-1.html";
    EXPECT_EQ(platform::create_new_file(page, "<html>"), "");
    EXPECT_NE(platform::create_new_file(page, "again"), "");
    EXPECT_EQ(get(page), "<html>");
    CreateDirectoryW(wide(pages + "\\sub").c_str(), nullptr);
    const auto files = platform::own_files_in(pages);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "compare-1.html");
    const auto age = std::chrono::system_clock::now() - files[0].modified;
    EXPECT_LT(std::chrono::abs(age), std::chrono::minutes(5));
    EXPECT_TRUE(platform::remove_file(pages, "compare-1.html"));
    EXPECT_FALSE(platform::remove_file(pages, "compare-1.html"));
    EXPECT_TRUE(platform::own_files_in(pages).empty());
    put(pages + "\\blocker", "a file");
    EXPECT_NE(platform::make_folders(pages + "\\blocker\\sub"), "") << "a file is in the way";
}

TEST(folder_win32, keeps_and_prunes_the_shared_script_under_a_name_that_is_not_ascii) {
    test_folder dir;
    const std::string pages = dir / "compare\\d\xe9j\xe0";
    ASSERT_EQ(platform::make_folders(pages), "");
    const std::string name = zorv::shared_script_name("script");
    const std::string script = pages + "\\" + name;
    for (const char* before : {"", "script", "cut", "script and more"}) {
        SCOPED_TRACE(before);
        if (*before) put(script, before);
        EXPECT_EQ(zorv::keep_shared_script(pages, name, "script"), "");
        EXPECT_EQ(get(script), "script");
    }
    // Kept while a page names it, pruned once none does.
    ASSERT_EQ(platform::create_new_file(pages + "\\compare-1.html",
                                        zorv::shared_script_element(name)),
              "");
    EXPECT_EQ(zorv::prune_shared_scripts(pages, std::chrono::seconds(0)), 0u);
    EXPECT_TRUE(platform::remove_file(pages, "compare-1.html"));
    EXPECT_EQ(zorv::prune_shared_scripts(pages, std::chrono::seconds(0)), 1u);
    EXPECT_TRUE(platform::own_files_in(pages).empty());
}

TEST(display_utf8_win32, shows_names_of_the_code_page_in_utf8) {
    struct row {
        const wchar_t* name;  // as the user typed it
        const char* utf8;     // as pages show it
    };
    for (const row r : {row{L"a.txt", "a.txt"}, row{L"Mine (ours)", "Mine (ours)"},
                        row{L"caf\u00e9 \u00c4rger.txt", "caf\xc3\xa9 \xc3\x84rger.txt"},
                        row{L"C:\\D\u00fcr\\\u00fc.txt", "C:\\D\xc3\xbcr\\\xc3\xbc.txt"}}) {
        // What the program is given: the name in the system's code page.
        const std::string given = narrow_from_wide(r.name);
        if (wide_from_narrow(given) != r.name) continue;  // the code page cannot hold it
        EXPECT_EQ(platform::display_utf8(given), r.utf8) << given;
    }
}

}  // namespace
