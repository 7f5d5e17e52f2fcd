// The page on which the user resolves a merge's conflicts in the browser.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

/// The page's script (the editor and the page's own code, one bundle), served beside the
/// page under this name.
inline constexpr std::string_view merge_page_script = "merge_page.js";

/// The script that colours the text, served beside the page under this name to a page whose
/// file's name says its language (merge_page_language), and only to such a page.
inline constexpr std::string_view merge_syntax_script = "syntax.js";

/// The language the merge's text is coloured in: what output_name says, else what the
/// display names say; empty for none.
std::string_view merge_page_language(const merge_result& merged, std::string_view output_name);

/// The page's markup for merged, whose result goes to output_name: the toolbar, the panes
/// and the merge itself as data for the script. The page reports itself alive every
/// heartbeat_every once its script runs; it talks to the server by relative URLs
/// ("merge_page.js", "syntax.js" when coloured, "alive", "save", "cancel"), so it must be
/// served from the folder URL that carries the session's token.
std::string render_merge_page(const merge_result& merged, const std::string& output_name,
                              std::chrono::milliseconds heartbeat_every);

/// text as a JSON string for the page's script, losslessly: line ends CR LF become LF; a
/// byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte, which the
/// page sends back as that byte; "<" is escaped so that no markup can end the data.
std::string page_text(std::string_view text);

}  // namespace zorv
