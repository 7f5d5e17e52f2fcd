// trelprompt: shows a message of the tool set on the console and, in a desktop session, in
// a dialog. Always exits 0: its callers do not look at the result.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "tools/desktop/desktop.h"
#include "tools/trelprompt/prompt_args.h"

int main(int argc, char** argv) {
    const trelprompt::prompt_request request =
        trelprompt::parse_prompt_args(std::vector<std::string>(argv + 1, argv + argc));
    std::fprintf(stderr, "%s\n", trelprompt::console_line(request).c_str());
    if (request.prefer_gui && desktop::desktop_session()) {
        const auto command = trelprompt::dialog_command(request, desktop::find_in_path("zenity"),
                                                        desktop::find_in_path("notify-send"));
        // On its own: the caller waits for this program, not for the user to close a box.
        platform::spawn_options on_its_own;
        on_its_own.hidden = true;
        on_its_own.detached = true;
        if (!command.empty()) (void)platform::spawn(command, on_its_own);
    }
    return 0;
}
