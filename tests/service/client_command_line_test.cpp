#include <gtest/gtest.h>

#include <string>

#include "service/client_launch.h"

namespace {

using platform::path_style;

const std::string options =
    R"(-product com.qorva.tarvel.team.client.integration.product -application com.qorva.tarvel.team.client.integration.application -configuration @user.home\.Tarvel\ZXE8\config -data @user.home\.Tarvel\ZXE8\workspace -persistState false -nosplash -vmargs )";

TEST(client_command_line, quotes_the_program_and_the_pipe_name) {
    struct row {
        const char* folder;
        path_style style;
        std::string program;
    };
    const row rows[] = {
        {R"(C:\Prod\ZorvHome)", path_style::windows, R"("C:\Prod\ZorvHome\zorvexplorer.exe")"},
        // The folder is used as given: a trailing backslash is doubled, not collapsed.
        {R"(C:\Prod\ZorvHome\)", path_style::windows, R"("C:\Prod\ZorvHome\\zorvexplorer.exe")"},
        {R"(C:\Program Files\P\ZorvHome)", path_style::windows,
         R"("C:\Program Files\P\ZorvHome\zorvexplorer.exe")"},
        {"/opt/p/ZorvHome", path_style::posix, R"("/opt/p/ZorvHome/zorvexplorer")"},
    };
    const std::string pipe = R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe4242alice)";
    for (const row& r : rows) {
        EXPECT_EQ(service::client_command_line(r.folder, pipe, r.style),
                  r.program + " " + options +
                      "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=\"" + pipe + "\"");
    }
}

}  // namespace
