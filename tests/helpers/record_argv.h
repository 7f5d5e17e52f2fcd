// Reading what the record_argv helper wrote (see record_argv.cpp for its contract).
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace test_helpers {

inline constexpr const char* record_argv_file_env = "RECORD_ARGV_FILE";
inline constexpr const char* record_argv_exit_env = "RECORD_ARGV_EXIT";

struct recorded_run {
    std::string cwd;
    std::vector<std::string> argv;
};

/// The record at path; nothing when the file is missing or malformed.
inline std::optional<recorded_run> read_recorded_run(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream all;
    all << in.rdbuf();
    const std::string data = all.str();
    std::vector<std::string> records;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t colon = data.find(':', pos);
        if (colon == std::string::npos) return std::nullopt;
        std::size_t length = 0;
        try {
            length = std::stoul(data.substr(pos, colon - pos));
        } catch (...) {
            return std::nullopt;
        }
        if (colon + 1 + length + 1 > data.size() || data[colon + 1 + length] != '\n') {
            return std::nullopt;
        }
        records.push_back(data.substr(colon + 1, length));
        pos = colon + 1 + length + 1;
    }
    if (records.empty()) return std::nullopt;
    recorded_run run;
    run.cwd = records.front();
    run.argv.assign(records.begin() + 1, records.end());
    return run;
}

}  // namespace test_helpers
