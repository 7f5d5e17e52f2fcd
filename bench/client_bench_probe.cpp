// client_bench_probe WORK_DIR REQUEST_FILE: serves one framed request as the client does
// (files read, compare page or merge written) and prints the client's log lines, so that
// client_bench can time it and read its peak memory as a process of its own.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/zorvexplorer/request_handler.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: client_bench_probe WORK_DIR REQUEST_FILE\n");
        return 2;
    }
    std::string message;
    {
        std::ifstream in(argv[2], std::ios::binary);
        message.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    zorv::client_context context;
    context.work_dir = argv[1];
    context.log = [](std::string_view line) {
        std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
    };
    const std::string answer = zorv::serve_message(message, context);
    return answer.find("<boolean>1</boolean>") != std::string::npos ? 0 : 1;
}
