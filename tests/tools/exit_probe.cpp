// Preloaded into a program by a test: appends a line to $VARNEX_EXIT_PROBE_FILE when the
// program's exit handlers run. Registered first, it runs after every static destructor.
#include <cstdio>
#include <cstdlib>

namespace {

void record_exit_handlers() {
    const char* path = std::getenv("VARNEX_EXIT_PROBE_FILE");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fputs("exit handlers ran\n", f);
        std::fclose(f);
    }
}

struct installer {
    installer() { std::atexit(record_exit_handlers); }
} installed;

}  // namespace
