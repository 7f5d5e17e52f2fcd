// Starting the graphical client and waiting until it connects to the wrapper pipe.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_style.h"
#include "service/service_texts.h"

namespace service {

inline constexpr std::string_view client_options =
    R"(-product com.qorva.tarvel.team.client.integration.product -application com.qorva.tarvel.team.client.integration.application -configuration @user.home\.Tarvel\ZXE8\config -data @user.home\.Tarvel\ZXE8\workspace -persistState false -nosplash -vmargs )";
inline constexpr std::string_view wrapper_pipe_property =
    "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=";
inline constexpr std::string_view client_program_base = "zorvexplorer";

/// The client's command line: the quoted program path (folder + "\zorvexplorer.exe", or
/// folder + "/zorvexplorer" on posix), a blank, the fixed options and the wrapper pipe
/// property with the name in double quotes.
std::string client_command_line(std::string_view client_folder, std::string_view wrapper_pipe,
                                platform::path_style style);

/// Starts the client in client_folder (or, in debug mode, prints the wrapper pipe's name)
/// and waits until it connects to the wrapper pipe. False, after a log line, when it
/// could not be started or ended before connecting.
bool launch_client(std::string client_folder, bool debug_mode);

}  // namespace service
