// How a compare page shows a pair of files of which one is binary: never as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

/// A contributor as a compare page describes a binary pair.
struct file_facts {
    bool binary = false;
    std::uint64_t size = 0;  // bytes
    std::string digest;      // SHA-256, hex
};

/// The facts of a contributor's raw bytes.
file_facts facts_of(std::string_view data, bool binary);

struct binary_pair {
    std::string html;  // one section of the page
    bool identical = false;
};

/// The section for first against other (titles already escaped for HTML): "binary files
/// differ" or "binary files are identical", each file's size and digest. change_id, when
/// given, is put on the first row of a pair that differs, for the page's change navigation.
binary_pair binary_pair_section(std::string_view first_title, const file_facts& first,
                                std::string_view other_title, const file_facts& other,
                                std::string_view change_id = {});

}  // namespace zorv
