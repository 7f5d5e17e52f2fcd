#include "platform/command_line.h"

namespace platform {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> argv;
    if (line.empty()) return argv;
    std::size_t i = 0;
    const std::size_t n = line.size();

    // The program name: quotes group blanks, and a backslash is an ordinary character, so
    // that "C:\dir\" names a folder path as typed.
    std::string program;
    bool in_quotes = false;
    while (i < n && (in_quotes || !is_blank(line[i]))) {
        if (line[i] == '"') {
            in_quotes = !in_quotes;
        } else {
            program += line[i];
        }
        ++i;
    }
    argv.push_back(std::move(program));

    for (;;) {
        while (i < n && is_blank(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        in_quotes = false;
        for (;;) {
            std::size_t backslashes = 0;
            while (i < n && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            bool copy = true;
            if (i < n && line[i] == '"') {
                if (backslashes % 2 == 0) {
                    if (in_quotes && i + 1 < n && line[i + 1] == '"') {
                        // "" inside a quoted run stands for one literal quote.
                        ++i;
                    } else {
                        copy = false;
                        in_quotes = !in_quotes;
                    }
                }
                backslashes /= 2;
            }
            arg.append(backslashes, '\\');
            if (i >= n || (!in_quotes && is_blank(line[i]))) break;
            if (copy) arg += line[i];
            ++i;
        }
        argv.push_back(std::move(arg));
    }
    return argv;
}

namespace {

std::string quote_always(std::string_view arg) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are doubled, and the quote itself escaped.
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Trailing backslashes stand before the closing quote.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace

std::string quote_argument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(arg);
    }
    return quote_always(arg);
}

namespace {

std::string join(const std::vector<std::string>& argv, std::string (*quote)(std::string_view)) {
    std::string line;
    for (std::size_t k = 0; k < argv.size(); ++k) {
        if (k == 0) {
            line += '"';
            line += argv[0];
            line += '"';
        } else {
            line += ' ';
            line += quote(argv[k]);
        }
    }
    return line;
}

}  // namespace

std::string join_command_line(const std::vector<std::string>& argv) {
    return join(argv, quote_argument);
}

std::string join_command_line_quoted(const std::vector<std::string>& argv) {
    return join(argv, quote_always);
}

}  // namespace platform
