// record_argv: a stand-in program that tells a test how it was started.
//
// Contract:
// - When RECORD_ARGV_FILE names a file, writes there, as records "<decimal byte length>:<bytes>\n",
//   first its current directory, then every argument from argv[0] on, unchanged. The file is
//   written under a temporary name and renamed, so it appears complete or not at all.
// - Exits with the code in RECORD_ARGV_EXIT (decimal, default 0).
// - Reads no input and prints nothing. tests/helpers/record_argv.h reads the record.
#include "tests/helpers/record_argv.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void add_record(std::string& out, const std::string& text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
    out += '\n';
}

}  // namespace

int main(int argc, char** argv) {
    int code = 0;
    if (const char* exit_text = std::getenv(test_helpers::record_argv_exit_env)) {
        code = std::atoi(exit_text);
    }
    const char* file = std::getenv(test_helpers::record_argv_file_env);
    if (file == nullptr || *file == '\0') return code;

    std::string out;
    char cwd[4096];
    add_record(out, getcwd(cwd, sizeof cwd) != nullptr ? cwd : "");
    for (int i = 0; i < argc; ++i) add_record(out, argv[i]);

    const std::string partial = std::string(file) + ".partial";
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (f == nullptr) return 125;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !written || std::rename(partial.c_str(), file) != 0) return 125;
    return code;
}
