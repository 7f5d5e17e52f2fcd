#include "service/client_launch.h"

#include <cstdio>

#include "common/work_dir.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "service/service_state.h"

namespace service {

std::string client_command_line(std::string_view client_folder, std::string_view wrapper_pipe,
                                platform::path_style style) {
    const std::string program = platform::join_path(
        client_folder, platform::program_file(client_program_base, style), style);
    std::string line;
    line.reserve(program.size() + client_options.size() + wrapper_pipe_property.size() +
                 wrapper_pipe.size() + 6);
    // Quoted, so that a folder with blanks still names the program.
    line += '"';
    line += program;
    line += "\" ";
    line += client_options;
    line += wrapper_pipe_property;
    line += '"';
    line += wrapper_pipe;
    line += '"';
    return line;
}

bool launch_client(std::string client_folder, bool debug_mode) {
    service_state& service = the_service();
    platform::process client;
    if (!debug_mode) {
        const std::string command = client_command_line(client_folder, service.wrapper_pipe_name,
                                                        platform::native_path_style());
        common::write_log_line(command);
        // The client starts in its folder; the service's own directory, which other threads
        // share, never changes.
        platform::spawn_options in_client_folder;
        in_client_folder.working_folder = client_folder;
        client = platform::spawn_command_line(command, in_client_folder);
        if (!client.valid()) {
            common::write_log_line(could_not_create_client);
            return false;
        }
    } else {
        common::write_log_line(debug_option_passed);
        common::write_log_line(service.wrapper_pipe_name);
        std::string line = service.wrapper_pipe_name;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    // A client that dies before it connects would otherwise hold the first front end
    // (and the service) waiting for ever.
    const platform::connect_status status =
        service.wrapper_pipe.wait_for_client(client.valid() ? &client : nullptr);
    if (status == platform::connect_status::process_ended) {
        common::write_log_line(client_ended_before_connecting);
        return false;
    }
    if (status == platform::connect_status::failed) {
        common::write_log_line(client_connect_failed);
        return false;
    }
    return true;
}

}  // namespace service
