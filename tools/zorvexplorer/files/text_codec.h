// Contributor text in the five Unicode encodings the front end names by type name, or as
// plain bytes when it names none.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zorv {

enum class text_encoding { bytes, utf8, utf16le, utf16be, utf32le, utf32be };

/// The encoding of a request's type name ("utf8_file_delta" ...; "" is bytes); nothing
/// for a name it does not know.
std::optional<text_encoding> encoding_of_type(std::string_view type_name);

/// Short name for messages ("UTF-16LE", "bytes").
std::string_view encoding_label(text_encoding encoding);

struct decoded_text {
    std::string text;  // UTF-8, or the bytes unchanged for text_encoding::bytes
    bool had_bom = false;
    std::string error;  // empty when the data decoded
    bool ok() const { return error.empty(); }
};

/// Decodes data, skipping a byte-order mark that fits the encoding. Invalid data (a cut
/// code unit, an unpaired surrogate, a value beyond U+10FFFF, a malformed UTF-8 sequence)
/// gives an error naming the byte offset.
decoded_text decode_text(std::string_view data, text_encoding encoding);

/// Encodes UTF-8 text (bytes pass unchanged), with a byte-order mark when asked. Bytes
/// that are not UTF-8 (a name in an 8-bit code page) become U+FFFD rather than vanish.
std::string encode_text(std::string_view text, text_encoding encoding, bool with_bom);

/// The encoding that a byte-order mark at the start of data names (UTF-8, UTF-16LE/BE,
/// UTF-32LE/BE; UTF-32LE wins over UTF-16LE, whose mark begins it); nothing without one.
std::optional<text_encoding> encoding_of_bom(std::string_view data);

/// How far looks_binary looks into a file.
inline constexpr std::size_t binary_probe_bytes = 8000;

/// True for data that a line merge would damage: a NUL byte among its first
/// binary_probe_bytes bytes, unless it starts with a UTF-16 or UTF-32 byte-order mark.
bool looks_binary(std::string_view data);

/// Text as valid UTF-8: invalid bytes become U+FFFD. For showing raw bytes on a page.
std::string sanitize_utf8(std::string_view text);

}  // namespace zorv
