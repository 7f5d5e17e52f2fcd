// fake_service: a stand-in relay service for the front end's tests.
//
// Contract: started as `zorv_service <client folder>` by the front end. Sets up the per-user
// work directory as the real service does, writes its pid to zorv_service.pid, then serves
// the launcher request pipe one connection at a time until it is killed: reads one whole
// request, stores it in $FAKE_SERVICE_REQUEST_FILE, and answers with $FAKE_SERVICE_REPLY
// (without that variable it closes the connection without answering).
#include "tests/frontend/fake_service.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "common/work_dir.h"
#include "platform/files.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace {

std::string read_request(platform::pipe& connection) {
    std::string request;
    char buffer[4096];
    for (;;) {
        const auto got = connection.read(buffer, sizeof buffer);
        if (got.status == platform::io_status::failed) return request;
        request.append(buffer, got.count);
        if (got.status == platform::io_status::ok) return request;
    }
}

void store_request(const std::string& request) {
    const char* file = std::getenv(fake_service::request_file_env);
    if (file == nullptr || *file == '\0') return;
    const std::string partial = std::string(file) + ".partial";
    if (platform::write_private_file(partial, request, platform::file_open::truncate)) {
        std::rename(partial.c_str(), file);
    }
}

}  // namespace

int main() {
    if (!common::setup_work_dir()) return 2;
    platform::write_private_file(common::work_file_path(common::pid_file_name),
                                 std::to_string(platform::current_process_id()),
                                 platform::file_open::truncate);
    const std::string name = common::launcher_request_pipe_name(common::login_name());
    platform::pipe_server_options options;
    options.max_instances = platform::unlimited_instances;
    for (;;) {
        platform::pipe connection = platform::pipe::create_server(name, options);
        if (!connection.valid()) return 3;
        if (connection.wait_for_client() != platform::connect_status::connected) continue;
        store_request(read_request(connection));
        if (const char* reply = std::getenv(fake_service::reply_env)) {
            connection.write(reply);
            connection.flush();
        }
        connection.disconnect();
    }
}
