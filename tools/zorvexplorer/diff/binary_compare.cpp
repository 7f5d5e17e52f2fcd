#include "tools/zorvexplorer/diff/binary_compare.h"

#include "tools/zorvexplorer/diff/sha256.h"

namespace zorv {

namespace {

std::string file_row(std::string_view title, const file_facts& f, std::string_view id = {}) {
    const std::string id_attribute = id.empty() ? "" : " id=\"" + std::string(id) + "\"";
    return "<tr" + id_attribute + "><td class=\"title\">" + std::string(title) +
           "</td><td class=\"kind\">" + (f.binary ? "binary" : "text") +
           "</td><td class=\"size\">" + std::to_string(f.size) +
           " bytes</td><td class=\"digest\">SHA-256 " + f.digest + "</td></tr>\n";
}

}  // namespace

file_facts facts_of(std::string_view data, bool binary) {
    return {binary, data.size(), sha256_hex(data)};
}

binary_pair binary_pair_section(std::string_view first_title, const file_facts& first,
                                std::string_view other_title, const file_facts& other,
                                std::string_view change_id) {
    binary_pair pair;
    pair.identical = first.size == other.size && first.digest == other.digest;
    pair.html = "<section class=\"pair binary\">\n<p class=\"pair-summary\">" +
                std::string(first_title) + " &harr; " + std::string(other_title) + ": " +
                (pair.identical ? "binary files are identical" : "binary files differ") +
                "</p>\n<table class=\"binary\">\n" +
                file_row(first_title, first, pair.identical ? "" : change_id) +
                file_row(other_title, other) + "</table>\n</section>\n";
    return pair;
}

}  // namespace zorv
