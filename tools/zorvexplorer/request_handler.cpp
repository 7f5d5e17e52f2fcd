#include "tools/zorvexplorer/request_handler.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#include "platform/display_text.h"
#include "platform/file_save.h"
#include "platform/path_style.h"
#include "tools/zorvexplorer/diff/binary_compare.h"
#include "tools/zorvexplorer/files/file_io.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/merge/merge.h"
#include "tools/zorvexplorer/pages/compare_page.h"
#include "tools/zorvexplorer/pages/page_store.h"
#include "tools/zorvexplorer/pages/syntax_language.h"
#include "tools/zorvexplorer/transport/http_frame.h"
#include "tools/zorvexplorer/transport/xmlrpc.h"

namespace zorv {

namespace {

using names = std::vector<std::string>;

// A request whose parameters have been checked.
struct request {
    std::string method;
    std::optional<std::string> output;  // merge only
    names display_names;
    names contributors;
    text_encoding encoding = text_encoding::bytes;
};

struct outcome {
    std::string body;
    std::string summary;    // for the log
    std::string changes{};  // a compare's findings, logged on a line of their own
};

const std::string* as_string(const rpc_value& v) { return std::get_if<std::string>(&v); }
const names* as_array(const rpc_value& v) { return std::get_if<names>(&v); }

// Checks the parameters of a call; the reason when they do not fit its method.
std::string check_call(const rpc_call& call, request& out) {
    const bool merge = call.method == merge_method;
    const std::size_t expected = merge ? 4 : 3;
    if (call.params.size() != expected) {
        return call.method + " takes " + std::to_string(expected) + " parameters, not " +
               std::to_string(call.params.size());
    }
    std::size_t at = 0;
    if (merge) {
        const std::string* output = as_string(call.params[at++]);
        if (output == nullptr || output->empty()) return "the output is not a file name";
        out.output = *output;
    }
    const names* display = as_array(call.params[at++]);
    const names* contributors = as_array(call.params[at++]);
    const std::string* type = as_string(call.params[at++]);
    if (display == nullptr || contributors == nullptr || type == nullptr)
        return "the parameters are not (names, files, type)";
    if (contributors->size() < 2) return "fewer than two files";
    if (display->size() != contributors->size()) return "display names and files differ in number";
    for (const std::string& c : *contributors) {
        if (c.empty()) return "an empty file name";
    }
    const auto encoding = encoding_of_type(*type);
    if (!encoding) return "unknown type name \"" + *type + "\"";
    out.method = call.method;
    out.display_names = *display;
    out.contributors = *contributors;
    out.encoding = *encoding;
    return {};
}

struct contributor_texts {
    names texts;                    // decoded; empty for a binary file
    std::vector<file_facts> facts;  // one per contributor when any is binary, else none
    text_encoding first_encoding = text_encoding::bytes;
    bool first_had_bom = false;
    std::string error;
};

// The encoding a file is read in: the request's, or when it names none, the file's
// byte-order mark, if any.
text_encoding encoding_for(text_encoding requested, std::string_view data) {
    if (requested != text_encoding::bytes) return requested;
    return encoding_of_bom(data).value_or(text_encoding::bytes);
}

// A file with NUL bytes in UTF-16 or UTF-32 is text; in bytes or UTF-8 it is binary.
bool binary_in(text_encoding encoding, std::string_view data) {
    return (encoding == text_encoding::bytes || encoding == text_encoding::utf8) &&
           looks_binary(data);
}

contributor_texts read_contributors(const request& r) {
    contributor_texts result;
    const std::uint64_t limit = max_input_bytes();
    names raw;
    for (const std::string& path : r.contributors) {
        file_read file = read_input_file(path, limit);
        if (!file.error.empty()) {
            result.error = "cannot read " + file.error;
            return result;
        }
        raw.push_back(std::move(file.data));
    }
    std::vector<bool> binary;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        binary.push_back(binary_in(encoding_for(r.encoding, raw[k]), raw[k]));
    }
    const bool any_binary = std::find(binary.begin(), binary.end(), true) != binary.end();
    for (std::size_t k = 0; k < raw.size(); ++k) {
        if (any_binary) result.facts.push_back(facts_of(raw[k], binary[k]));
        if (binary[k]) {
            result.texts.emplace_back();
            continue;
        }
        const text_encoding encoding = encoding_for(r.encoding, raw[k]);
        decoded_text text = decode_text(raw[k], encoding);
        std::string().swap(raw[k]);
        if (!text.ok()) {
            result.error = r.contributors[k] + ": " + text.error;
            return result;
        }
        if (k == 0) {
            result.first_encoding = encoding;
            result.first_had_bom = text.had_bom;
        }
        result.texts.push_back(std::move(text.text));
    }
    return result;
}

// Names as pages show them, in UTF-8 (on Windows they come in the system's code page). The
// merge's conflict labels carry them the same way, so that a page shows its markers as the
// output will hold them.
names shown(const names& in) {
    names out;
    out.reserve(in.size());
    for (const std::string& name : in) out.push_back(platform::display_utf8(name));
    return out;
}

outcome failed(std::string reason) { return {boolean_response(false), "false: " + reason}; }

outcome run_compare(const request& r, const client_context& context) {
    const contributor_texts in = read_contributors(r);
    if (!in.error.empty()) return failed(in.error);
    if (context.work_dir.empty()) return failed("no work directory for the compare page");
    // A display name may be a label ("local"); the file's own name may say more.
    std::vector<std::string_view> languages;
    for (std::size_t k = 0; k < r.contributors.size(); ++k)
        languages.push_back(first_language_of({r.display_names[k], r.contributors[k]}));
    const compare_page page =
        build_compare_page(shown(r.display_names), in.texts, in.facts, languages);
    std::string error;
    const std::string dir =
        platform::join_path(context.work_dir, compare_folder, platform::native_path_style());
    const std::string path =
        write_unique_file(dir, compare_page_prefix, compare_page_suffix, page.html, error);
    if (path.empty()) return failed("cannot write the compare page: " + error);
    if (!page.shared_script.empty()) {
        // Without it the page still shows its text, in plain colours.
        if (const std::string kept =
                keep_shared_script(dir, page.shared_script, colouring_script());
            !kept.empty() && context.log)
            context.log("no colours for the page: " + kept);
    }
    prune_pages(dir, context.pages);
    prune_shared_scripts(dir);
    if (context.show_page) context.show_page(path);
    return {boolean_response(true), "true: page " + path, "page " + path + ": " + page.changes};
}

outcome run_merge(const request& r, const client_context& context, merge_cancel& cancel) {
    // Relative to the client's folder is no place a user meant, nor is a device.
    if (const std::string problem =
            platform::output_name_problem(*r.output, platform::native_path_style());
        !problem.empty()) {
        return failed(*r.output + ": " + problem);
    }
    const contributor_texts in = read_contributors(r);
    if (!in.error.empty()) return failed(in.error);
    for (std::size_t k = 0; k < in.facts.size(); ++k) {
        if (in.facts[k].binary) {
            return failed(r.contributors[k] + " is a binary file; " + *r.output +
                          " left untouched");
        }
    }
    const merge_result merged = merge_contributors(in.texts, shown(r.display_names));
    // The one way the output is written, whether the user resolved the merge or not.
    const auto write_output = [&](const std::string& text) {
        return write_output_file(*r.output, encode_text(text, in.first_encoding, in.first_had_bom));
    };
    std::string not_shown;
    if (!merged.clean() && !merged.chunks.empty() && context.resolve_conflicts) {
        const merge_session_result s = context.resolve_conflicts(
            merged, platform::display_utf8(*r.output), write_output, cancel);
        switch (s.end) {
            case merge_session_end::saved:
                return {boolean_response(true),
                        "true: " + std::to_string(merged.conflicts) +
                            " conflict(s) resolved by the user, merged into " + *r.output};
            case merge_session_end::cancelled:
            case merge_session_end::closed:
                return {boolean_response(false),
                        "false: " + s.detail + "; " + *r.output + " left as it was"};
            case merge_session_end::not_served:
                not_shown = " (no merge page: " + s.detail + ")";
                break;
        }
    }
    const std::string error = write_output(merged.text);
    if (!error.empty()) return failed("cannot write the output " + error);
    if (!merged.clean()) {
        return {boolean_response(false), "false: " + std::to_string(merged.conflicts) +
                                             " conflict(s) marked in " + *r.output + not_shown};
    }
    return {boolean_response(true), "true: merged into " + *r.output};
}

outcome fault(int code, std::string reason) {
    return {fault_response(code, reason), "fault: " + reason};
}

std::string describe(const request& r) {
    std::string s = r.method;
    if (r.output) s += " -> " + *r.output;
    for (const std::string& c : r.contributors) s += " " + c;
    return s;
}

std::string serve_checked_message(std::string_view message, const client_context& context,
                                  merge_cancel& cancel) {
    const auto answer = [&](std::string_view what, const outcome& o) {
        if (context.log) {
            context.log(std::string(what) + ": " + o.summary);
            if (!o.changes.empty()) context.log(o.changes);
        }
        return http_answer(o.body);
    };
    const framed_request framed = unframe_request(message);
    if (!framed.body) return answer("request", fault(fault_parse_error, framed.error));
    const parsed_call parsed = parse_call(*framed.body);
    if (!parsed.call) return answer("request", fault(fault_parse_error, parsed.error));
    const rpc_call& call = *parsed.call;
    if (call.method != compare_method && call.method != merge_method) {
        return answer(call.method, fault(fault_unknown_method, "unknown method " + call.method));
    }
    request r;
    if (std::string reason = check_call(call, r); !reason.empty()) {
        return answer(call.method, fault(fault_invalid_params, reason));
    }
    const outcome o =
        r.method == compare_method ? run_compare(r, context) : run_merge(r, context, cancel);
    return answer(describe(r), o);
}

}  // namespace

std::string serve_message(std::string_view message, const client_context& context,
                          merge_cancel* cancel) {
    // One request must never end the client: whatever it throws becomes its answer.
    std::string reason;
    try {
        merge_cancel never_cancelled;
        return serve_checked_message(message, context, cancel ? *cancel : never_cancelled);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& e) {
        reason = std::string("internal error: ") + e.what();
    } catch (...) {
        reason = "internal error";
    }
    try {
        if (context.log) context.log("request: false: " + reason);
    } catch (...) {
        // The answer matters more than the log line.
    }
    return http_answer(boolean_response(false));
}

}  // namespace zorv
