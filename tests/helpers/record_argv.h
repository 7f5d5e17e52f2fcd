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

/// The "<length>:<bytes>\n" records of data; nothing when malformed.
inline std::optional<std::vector<std::string>> parse_records(const std::string& data) {
    std::vector<std::string> records;
    for (std::size_t pos = 0; pos < data.size();) {
        const std::size_t colon = data.find(':', pos);
        if (colon == std::string::npos || colon == pos ||
            data.find_first_not_of("0123456789", pos) != colon) {
            return std::nullopt;
        }
        const std::size_t length = std::stoul(data.substr(pos, colon - pos));
        if (colon + 1 + length + 1 > data.size() || data[colon + 1 + length] != '\n') {
            return std::nullopt;
        }
        records.push_back(data.substr(colon + 1, length));
        pos = colon + 1 + length + 1;
    }
    return records;
}

/// The record at path; nothing when the file is missing or malformed.
inline std::optional<recorded_run> read_recorded_run(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const auto records = parse_records(all.str());
    if (!in || !records || records->empty()) return std::nullopt;
    return recorded_run{records->front(), {records->begin() + 1, records->end()}};
}

}  // namespace test_helpers
