#include "tools/trelprompt/prompt_args.h"

namespace trelprompt {

prompt_request parse_prompt_args(const std::vector<std::string>& args) {
    prompt_request r;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        const bool has_value = k + 1 < args.size();
        if (a == "-prompt" && has_value) {
            r.text = args[++k];
        } else if (a == "-type" && has_value) {
            r.type = args[++k];
        } else if (a == "-mask" && has_value) {
            ++k;  // only one mask exists: proceed
        } else if (a == "-prefer_gui") {
            r.prefer_gui = true;
        }
    }
    return r;
}

std::string console_line(const prompt_request& request) {
    return "trelprompt: " + request.type + ": " + request.text;
}

std::vector<std::string> dialog_command(const prompt_request& request, const std::string& zenity,
                                        const std::string& notify_send) {
    const bool error = request.type == "error";
    if (!zenity.empty()) {
        return {zenity, error ? "--error" : "--info", "--no-markup", "--title=Varnex",
                "--text=" + request.text};
    }
    if (!notify_send.empty()) {
        return {notify_send, "--urgency=" + std::string(error ? "critical" : "normal"), "Varnex",
                request.text};
    }
    return {};
}

}  // namespace trelprompt
