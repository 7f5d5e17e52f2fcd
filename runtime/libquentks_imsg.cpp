// The message printer: the same on every platform.
#include <cstdio>
#include <mutex>
#include <string>

#include "runtime/product_runtime.h"

namespace {

std::mutex app_name_mutex;
std::string& app_name() {
    static std::string name;
    return name;
}

}  // namespace

extern "C" void imsg_set_app_name(const char* name) {
    std::lock_guard lock(app_name_mutex);
    app_name() = name != nullptr ? name : "";
}

extern "C" int imsg_print(int /*kind*/, const imsg_catalogue* table, int position) {
    if (table == nullptr || table->texts == nullptr || position < 0 || position >= table->count) {
        return -1;
    }
    const char* text = table->texts[position];
    std::string line;
    {
        std::lock_guard lock(app_name_mutex);
        line = app_name();
    }
    line += ": ";
    line += text != nullptr ? text : "";
    line += '\n';
    // One write, so that lines of concurrent callers do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 0;
}
