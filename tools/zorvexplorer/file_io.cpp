#include "tools/zorvexplorer/file_io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/process.h"

namespace zorv {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> name_counter{0};

// Unique within this process (counter) and across processes (pid, time).
std::string unique_part() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return std::to_string(ms) + "-" + std::to_string(platform::current_process_id()) + "-" +
           std::to_string(name_counter.fetch_add(1));
}

std::string write_new_file(const fs::path& path, std::string_view data) {
    // "x": never reuse or follow a name someone else holds.
    std::FILE* f = std::fopen(path.string().c_str(), "wbx");
    if (f == nullptr) return path.string() + ": " + std::strerror(errno);
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return {};
    std::error_code ec;
    fs::remove(path, ec);
    return path.string() + ": write failed";
}

}  // namespace

file_read read_whole_file(const std::string& path) {
    file_read result;
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        result.error = path + ": is a directory";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    result.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) result.error = path + ": read failed";
    return result;
}

std::string write_file_atomically(const std::string& path, std::string_view data) {
    const fs::path target(path);
    std::string temp_name = ".";
    temp_name += target.filename().string();
    temp_name += '.';
    temp_name += unique_part();
    temp_name += ".tmp";
    const fs::path temp = target.parent_path() / temp_name;
    if (std::string error = write_new_file(temp, data); !error.empty()) return error;
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    if (!ec && fs::exists(old)) fs::permissions(temp, old.permissions(), ec);
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return path + ": " + ec.message();
    }
    return {};
}

std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return {};
    }
    const fs::path path =
        fs::path(dir) / (std::string(prefix) + "-" + unique_part() + std::string(suffix));
    error = write_new_file(path, data);
    return error.empty() ? path.string() : std::string();
}

}  // namespace zorv
