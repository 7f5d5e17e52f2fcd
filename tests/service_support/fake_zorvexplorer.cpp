// fake_zorvexplorer: a stand-in graphical client for the service's tests.
//
// Takes the wrapper pipe from its -D...wrapperpipe=NAME argument, records how it was
// started, serves every announced pipe pair on a thread of its own and answers as
// FAKE_CLIENT_MODE says (tests/service_support/fake_client_modes.h). Exits when the wrapper
// pipe breaks.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_buffer.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "tests/service_support/fake_client_modes.h"

namespace {

constexpr std::string_view wrapper_property =
    "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=";

std::string record_dir;
std::string mode = "true";
int quit_after = 0;
std::atomic<int> answered{0};

// Written under a temporary name and renamed, so a test sees it whole or not at all.
void record(const std::string& name, std::string_view data) {
    if (record_dir.empty()) return;
    const std::string path = record_dir + "/" + name;
    const std::string partial = path + ".partial";
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    std::rename(partial.c_str(), path.c_str());
}

void add_record(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
    out += '\n';
}

struct pair_job {
    int number;
    std::string request_name;
    std::string response_name;
};

void answer(platform::pipe& response, std::string_view request) {
    if (mode.rfind(fake_client::hold_mode, 0) == 0) {
        // Answers only once the test has made the file, within a minute at most.
        const std::string release = mode.substr(fake_client::hold_mode.size());
        for (int i = 0; i < 12000 && !std::filesystem::exists(release); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        response.write(fake_client::true_answer);
    } else if (mode == "false") {
        response.write(fake_client::false_answer);
    } else if (mode == "empty") {
        response.write("");
    } else if (mode == "http_head") {
        response.write(std::string(fake_client::http_head) + std::string(fake_client::true_answer));
    } else if (mode == "two_messages") {
        response.write(fake_client::true_answer);
        response.write(fake_client::second_message);
    } else if (mode == "echo") {
        response.write(fake_client::echo_answer(request));
    } else {
        response.write(fake_client::true_answer);
    }
    response.flush();
}

void serve_pair(void* raw) {
    std::unique_ptr<pair_job> job(static_cast<pair_job*>(raw));
    // Response first: the service accepts either order.
    platform::pipe response = platform::pipe::open(job->response_name, platform::pipe_open::write);
    platform::pipe request = platform::pipe::open(job->request_name, platform::pipe_open::read);
    if (!request.valid() || !response.valid()) return;
    request.set_message_read_mode();
    // Sized once, without zero-filling, so that a large request costs the client little
    // beside the relay it stands in for.
    platform::message_buffer message;
    if (!platform::read_message_into(request, message)) return;
    record("request-" + std::to_string(job->number) + ".bin", message.view());
    answer(response, message.view());
    const int done = ++answered;
    if (quit_after > 0 && done >= quit_after) {
        record("quit", "");
        std::_Exit(0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* d = std::getenv(fake_client::dir_env)) record_dir = d;
    if (const char* m = std::getenv(fake_client::mode_env); m != nullptr && *m != '\0') mode = m;
    if (mode.rfind("quit_after:", 0) == 0) quit_after = std::atoi(mode.c_str() + 11);

    std::string args;
    std::string wrapper;
    for (int i = 0; i < argc; ++i) {
        add_record(args, argv[i]);
        const std::string_view a = argv[i];
        if (a.rfind(wrapper_property, 0) == 0) wrapper = a.substr(wrapper_property.size());
    }
    record("argv.txt", args);
    record("cwd.txt", platform::current_directory());
    record("pid", std::to_string(platform::current_process_id()));
    if (mode == "die_before_connect") return 3;
    const bool never_open_pairs = mode == "never_open";
    if (wrapper.empty()) return 2;

    platform::pipe pipe = platform::pipe::open(wrapper, platform::pipe_open::read);
    if (!pipe.valid()) return 2;
    pipe.set_message_read_mode();
    record("connected", "");
    for (int number = 1;; ++number) {
        platform::message_buffer message;
        (void)platform::read_message_into(pipe, message);
        const std::string announcement(message.view());
        if (announcement.empty()) return 0;  // the wrapper pipe broke: the service is gone
        const std::size_t first = announcement.find('\n');
        const std::size_t second = announcement.find('\n', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        auto* job = new pair_job{number, announcement.substr(0, first),
                                 announcement.substr(first + 1, second - first - 1)};
        if (never_open_pairs || !platform::start_detached_thread(serve_pair, job, 0)) delete job;
    }
}
