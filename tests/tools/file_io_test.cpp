#include "tools/zorvexplorer/files/file_io.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <set>

#include "tests/support/sandbox.h"
#include "tests/support/second_user.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Each case prepares dir, writes "new text\n" to dir/<target> and checks what it finds.
struct output_case {
    const char* what;
    const char* target;
    std::function<void(const fs::path&)> prepare;
    bool written;
    std::function<void(const fs::path&)> check;
    bool needs_root = false;
};

const std::string new_text = "new text\n";

const output_case output_cases[] = {
    {"a new file", "out.txt", [](const fs::path&) {}, true,
     [](const fs::path& d) { EXPECT_EQ(test_support::read_file(d / "out.txt"), new_text); }},
    {"a file keeps its mode", "out.txt",
     [](const fs::path& d) {
         test_support::write_file(d / "out.txt", "old\n");
         ::chmod((d / "out.txt").c_str(), 0640);
     },
     true, [](const fs::path& d) { EXPECT_EQ(stat_of(d / "out.txt").st_mode & 07777, 0640u); }},
    {"setuid and setgid bits are dropped", "out.txt",
     [](const fs::path& d) {
         test_support::write_file(d / "out.txt", "old\n");
         ::chmod((d / "out.txt").c_str(), 06755);
     },
     true, [](const fs::path& d) { EXPECT_EQ(stat_of(d / "out.txt").st_mode & 07777, 0755u); }},
    {"a symbolic link stays and its target is written", "link",
     [](const fs::path& d) {
         test_support::write_file(d / "real.txt", "old\n");
         fs::create_symlink("real.txt", d / "link");
     },
     true,
     [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link"));
         EXPECT_EQ(test_support::read_file(d / "real.txt"), new_text);
     }},
    {"a chain of links into another folder", "link",
     [](const fs::path& d) {
         fs::create_directory(d / "sub");
         test_support::write_file(d / "sub" / "real.txt", "old\n");
         fs::create_symlink("sub/middle", d / "link");
         fs::create_symlink(d / "sub" / "real.txt", d / "sub" / "middle");
     },
     true,
     [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "sub" / "middle"));
         EXPECT_EQ(test_support::read_file(d / "sub" / "real.txt"), new_text);
         EXPECT_EQ(names_in(d / "sub"), (std::set<std::string>{"middle", "real.txt"}));
     }},
    {"a dangling link gets its target", "link",
     [](const fs::path& d) { fs::create_symlink("made.txt", d / "link"); }, true,
     [](const fs::path& d) { EXPECT_EQ(test_support::read_file(d / "made.txt"), new_text); }},
    {"a hard link is kept", "out.txt",
     [](const fs::path& d) {
         test_support::write_file(d / "out.txt", "old text that is longer\n");
         fs::create_hard_link(d / "out.txt", d / "other-name");
     },
     true,
     [](const fs::path& d) {
         EXPECT_EQ(test_support::read_file(d / "other-name"), new_text);
         EXPECT_EQ(stat_of(d / "out.txt").st_ino, stat_of(d / "other-name").st_ino);
         EXPECT_EQ(stat_of(d / "out.txt").st_nlink, 2u);
     }},
    {"another owner and group are kept", "out.txt",
     [](const fs::path& d) {
         test_support::write_file(d / "out.txt", "old\n");
         ASSERT_EQ(::chown((d / "out.txt").c_str(), 4321, 4322), 0);
         ::chmod((d / "out.txt").c_str(), 06664);
     },
     true,
     [](const fs::path& d) {
         const struct stat st = stat_of(d / "out.txt");
         EXPECT_EQ(st.st_uid, 4321u);
         EXPECT_EQ(st.st_gid, 4322u);
         EXPECT_EQ(st.st_mode & 07777, 0664u);
     },
     true},
    {"a character device is refused", "null-copy",
     [](const fs::path& d) {
         ASSERT_EQ(::mknod((d / "null-copy").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
     },
     false,
     [](const fs::path& d) {
         const struct stat st = stat_of(d / "null-copy");
         EXPECT_TRUE(S_ISCHR(st.st_mode));
         EXPECT_EQ(st.st_rdev, makedev(1, 3));
     },
     true},
    {"a FIFO is refused without blocking", "fifo",
     [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0); }, false,
     [](const fs::path& d) { EXPECT_TRUE(S_ISFIFO(stat_of(d / "fifo").st_mode)); }},
    {"a link to a FIFO is refused", "link",
     [](const fs::path& d) {
         ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
         fs::create_symlink("fifo", d / "link");
     },
     false, [](const fs::path& d) { EXPECT_TRUE(S_ISFIFO(stat_of(d / "fifo").st_mode)); }},
    {"a socket is refused", "sock",
     [](const fs::path& d) {
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         const std::string p = (d / "sock").string();
         ASSERT_LT(p.size(), sizeof addr.sun_path);
         p.copy(addr.sun_path, p.size());
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         ::close(s);
     },
     false, [](const fs::path& d) { EXPECT_TRUE(S_ISSOCK(stat_of(d / "sock").st_mode)); }},
    {"a directory is refused", "dir", [](const fs::path& d) { fs::create_directory(d / "dir"); },
     false, [](const fs::path& d) { EXPECT_TRUE(fs::is_empty(d / "dir")); }},
};

TEST(write_output_file, writes_what_an_editor_would_and_refuses_what_is_no_regular_file) {
    for (const output_case& c : output_cases) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && ::geteuid() != 0) {
            std::printf("skipped \"%s\": needs root\n", c.what);
            continue;
        }
        test_support::sandbox box;
        const fs::path dir = box.work_dir();
        c.prepare(dir);
        if (testing::Test::HasFatalFailure()) return;
        const std::set<std::string> before = names_in(dir);
        const std::string error = write_output_file((dir / c.target).string(), new_text);
        EXPECT_EQ(error.empty(), c.written) << error;
        if (!c.written) {
            EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        }
        c.check(dir);
        // No temporary file stays behind; only a new target appears.
        std::set<std::string> after = names_in(dir);
        for (const char* made : {"out.txt", "made.txt"}) {
            if (!before.count(made)) after.erase(made);
        }
        EXPECT_EQ(after, before);
    }
}

TEST(write_output_file, refuses_a_relative_path) {
    test_support::sandbox box;
    const std::string error = write_output_file("out.txt", new_text);
    EXPECT_NE(error.find("out.txt: not an absolute path"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists("out.txt"));
}

TEST(write_output_file, removes_the_stale_temporary_files_of_that_output_only) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    const auto make = [&](const char* name, bool old) {
        test_support::write_file(dir / name, "x");
        if (old) {
            const auto t = fs::file_time_type::clock::now() - std::chrono::hours(1);
            fs::last_write_time(dir / name, t);
        }
    };
    make(".out.txt.1733000000000-41-0.tmp", true);    // left by a killed client: removed
    make(".out.txt.1733000000000-41-1.tmp", false);   // newer than this process: kept
    make(".other.txt.1733000000000-41-0.tmp", true);  // another output's: kept
    make(".out.txt.backup.tmp", true);                // not our pattern: kept
    make("out.txt.1-2-3.tmp", true);                  // not hidden: not ours
    ASSERT_EQ(write_output_file((dir / "out.txt").string(), new_text), "");
    EXPECT_EQ(names_in(dir), (std::set<std::string>{
                                 ".out.txt.1733000000000-41-1.tmp",
                                 ".other.txt.1733000000000-41-0.tmp",
                                 ".out.txt.backup.tmp",
                                 "out.txt.1-2-3.tmp",
                                 "out.txt",
                             }));
}

// What a second user does, run as that user; 0 when it worked.
int as_user(const test_support::unix_user& user, const std::function<int()>& fn) {
    return test_support::run_as(user, fn);
}

// The other user's link; an empty path when it could not be made.
fs::path their_link(const test_support::unix_user& other, const fs::path& target,
                    const fs::path& link) {
    const int made =
        as_user(other, [&] { return ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : 1; });
    return made == 0 ? link : fs::path();
}

// Links in shared folders are followed only as the kernel's protected_symlinks rule follows
// them: in a sticky folder writable by all, a link must belong to us or to the folder's owner.
struct shared_link_case {
    const char* what;
    // Prepares the folders (shared: sticky and writable by all; ours: a folder of ours) and
    // returns the output path to write, empty when it could not be prepared.
    std::function<fs::path(const fs::path& ours, const fs::path& shared,
                           const test_support::unix_user& other)>
        prepare;
    bool followed;
};

const shared_link_case shared_link_cases[] = {
    {"another user's link in a sticky folder writable by all is refused",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user& other) {
         return their_link(other, ours / "secret", shared / "out.txt");
     },
     false},
    {"a chain of our link into the shared folder and another user's link there is refused",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user& other) {
         fs::create_symlink(shared / "theirs", ours / "mine");
         return their_link(other, ours / "secret", shared / "theirs").empty() ? fs::path()
                                                                              : ours / "mine";
     },
     false},
    {"another user's link to a folder, on the way to the output, is refused",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user& other) {
         const fs::path link = their_link(other, ours, shared / "folder");
         return link.empty() ? link : link / "secret";
     },
     false},
    {"our own link in the shared folder is followed",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user&) {
         fs::create_symlink(ours / "secret", shared / "out.txt");
         return shared / "out.txt";
     },
     true},
    {"a link of the shared folder's owner is followed",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user& other) {
         if (::chown(shared.c_str(), other.uid, other.gid) != 0) return fs::path();
         return their_link(other, ours / "secret", shared / "out.txt");
     },
     true},
    {"another user's link in a folder without the sticky bit is followed",
     [](const fs::path& ours, const fs::path& shared, const test_support::unix_user& other) {
         if (::chmod(shared.c_str(), 0777) != 0) return fs::path();
         return their_link(other, ours / "secret", shared / "out.txt");
     },
     true},
};

TEST(write_output_file, follows_links_in_shared_folders_only_as_the_kernel_would) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    for (const shared_link_case& c : shared_link_cases) {
        SCOPED_TRACE(c.what);
        test_support::sandbox box;
        const fs::path ours = box.work_dir();
        const fs::path shared = ours / "shared";
        fs::create_directory(shared);
        ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
        test_support::open_path_to_others(shared.string());
        test_support::write_file(ours / "secret", "secret\n");
        ASSERT_EQ(::chmod((ours / "secret").c_str(), 0600), 0);
        const fs::path out = c.prepare(ours, shared, *other);
        ASSERT_FALSE(out.empty()) << "could not prepare the folders";

        const std::string error = write_output_file(out.string(), new_text);
        if (c.followed) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(test_support::read_file(ours / "secret"), new_text);
        } else {
            EXPECT_NE(error.find("symbolic link of another user"), std::string::npos) << error;
            EXPECT_EQ(test_support::read_file(ours / "secret"), "secret\n");
            EXPECT_EQ(stat_of(ours / "secret").st_mode & 07777, 0600u);
        }
        EXPECT_TRUE(fs::is_symlink(out) || fs::is_symlink(out.parent_path())) << "links stay";
    }
}

TEST(write_output_file, writes_a_file_of_ours_in_place_where_the_folder_is_not_writable) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    test_support::sandbox box;
    // Root's folder, which the other user may enter but not write.
    const fs::path locked = box.work_dir() / "locked";
    fs::create_directory(locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0755), 0);
    test_support::open_path_to_others(locked.string());
    test_support::write_file(locked / "theirs.txt", "old text that is longer\n");
    ASSERT_EQ(::chown((locked / "theirs.txt").c_str(), other->uid, other->gid), 0);
    const ino_t inode = stat_of(locked / "theirs.txt").st_ino;
    struct row {
        const char* name;
        bool written;
    };
    for (const row r : {row{"theirs.txt", true}, row{"new.txt", false}}) {
        SCOPED_TRACE(r.name);
        const int code = as_user(*other, [&] {
            const std::string error = write_output_file((locked / r.name).string(), new_text);
            if (!error.empty()) std::printf("%s\n", error.c_str());
            std::fflush(stdout);
            return error.empty() ? 0 : 1;
        });
        EXPECT_EQ(code, r.written ? 0 : 1);
    }
    EXPECT_EQ(test_support::read_file(locked / "theirs.txt"), new_text);
    const struct stat st = stat_of(locked / "theirs.txt");
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(st.st_uid, other->uid);
    EXPECT_EQ(names_in(locked), (std::set<std::string>{"theirs.txt"}));
}

// A small file system of its own, unmounted at the end.
class small_file_system {
  public:
    explicit small_file_system(const fs::path& dir) : dir_(dir) {
        fs::create_directory(dir_);
        mounted_ = ::mount("varnex-test", dir_.c_str(), "tmpfs", 0, "size=256k,mode=0700") == 0;
    }
    ~small_file_system() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    small_file_system(const small_file_system&) = delete;
    small_file_system& operator=(const small_file_system&) = delete;
    bool mounted() const { return mounted_; }

    // Takes all the room that is left.
    void fill() {
        std::FILE* f = std::fopen((dir_ / "filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && !std::fflush(f)) {
        }
        std::fclose(f);
    }
    void free_room() { fs::remove(dir_ / "filler"); }

  private:
    fs::path dir_;
    bool mounted_ = false;
};

std::string numbered_lines(const char* word, std::size_t bytes) {
    std::string text;
    for (int k = 0; text.size() < bytes; ++k) text += word + std::to_string(k) + "\n";
    text.resize(bytes - 1);
    return text + "\n";
}

TEST(write_output_file, writes_in_place_only_when_the_new_size_is_reserved) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    test_support::sandbox box;
    small_file_system small(box.work_dir() / "small");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const fs::path dir = box.work_dir() / "small";
    const std::string old_text = numbered_lines("old line ", 12000);
    const std::string longer = numbered_lines("new line ", 24000);
    struct in_place_case {
        const char* what;
        std::function<void(const fs::path&)> make_in_place;
    };
    const in_place_case cases[] = {
        {"a hard-linked file",
         [](const fs::path& out) { fs::create_hard_link(out, out.parent_path() / "other-name"); }},
        {"a file of another owner",
         [](const fs::path& out) { ASSERT_EQ(::chown(out.c_str(), 4321, 4322), 0); }},
    };
    for (const in_place_case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path out = dir / "out.txt";
        test_support::write_file(out, old_text);
        c.make_in_place(out);
        small.fill();
        const std::string error = write_output_file(out.string(), longer);
        EXPECT_NE(error, "");
        const std::string after = test_support::read_file(out);
        EXPECT_TRUE(after == old_text)
            << "the old bytes must stay whole; now " << after.size() << " bytes ending in \""
            << after.substr(after.size() - 12) << "\"";
        small.free_room();
        EXPECT_EQ(write_output_file(out.string(), longer), "");
        EXPECT_TRUE(test_support::read_file(out) == longer);
        EXPECT_EQ(write_output_file(out.string(), "short\n"), "");
        EXPECT_EQ(test_support::read_file(out), "short\n");
        for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
    }
}

TEST(read_input_file, reads_regular_files_and_refuses_the_rest_without_reading) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    test_support::write_file(dir / "small", "0123456789");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Sparse: three gigabytes that take no room on disk.
    test_support::write_file(dir / "huge", "");
    fs::resize_file(dir / "huge", 3ull << 30);
    fs::create_symlink("small", dir / "link");
    struct row {
        std::string path;
        std::uint64_t limit;
        const char* data;   // expected when read
        const char* error;  // expected part of the error otherwise
    };
    const row rows[] = {
        {(dir / "small").string(), 10, "0123456789", nullptr},
        {(dir / "link").string(), 10, "0123456789", nullptr},
        {(dir / "small").string(), 9, nullptr, "small: larger than the limit of 9 bytes"},
        {(dir / "huge").string(), default_max_input_bytes, nullptr,
         "huge: larger than the limit of 268435456 bytes (VARNEX_CLIENT_MAX_INPUT_BYTES)"},
        {"/dev/zero", default_max_input_bytes, nullptr, "/dev/zero: not a regular file"},
        {(dir / "fifo").string(), 10, nullptr, "fifo: not a regular file"},
        {dir.string(), 10, nullptr, "files: not a regular file"},
        {(dir / "missing").string(), 10, nullptr, "missing: No such file or directory"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        const file_read got = read_input_file(r.path, r.limit);
        if (r.data != nullptr) {
            EXPECT_EQ(got.error, "");
            EXPECT_EQ(got.data, r.data);
        } else {
            EXPECT_NE(got.error.find(r.error), std::string::npos) << got.error;
            EXPECT_EQ(got.data, "");
        }
    }
}

}  // namespace
}  // namespace zorv
