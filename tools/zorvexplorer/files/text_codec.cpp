#include "tools/zorvexplorer/files/text_codec.h"

#include <array>
#include <cstdint>
#include <utility>

namespace zorv {

namespace {

constexpr char32_t replacement_char = 0xFFFD;

struct type_entry {
    std::string_view type_name;
    text_encoding encoding;
    std::string_view label;
};

constexpr std::array<type_entry, 6> type_table = {{
    {"", text_encoding::bytes, "bytes"},
    {"utf8_file_delta", text_encoding::utf8, "UTF-8"},
    {"utf16le_file_delta", text_encoding::utf16le, "UTF-16LE"},
    {"utf16be_file_delta", text_encoding::utf16be, "UTF-16BE"},
    {"utf32le_file_delta", text_encoding::utf32le, "UTF-32LE"},
    {"utf32be_file_delta", text_encoding::utf32be, "UTF-32BE"},
}};

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One UTF-8 sequence at data[pos]: its code point and length, or length 0 when invalid
// (overlong forms, surrogates and values past U+10FFFF included).
std::pair<char32_t, std::size_t> next_utf8(std::string_view data, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1};
    std::size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        len = 2, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, c = lead & 0x07, min = 0x10000;
    } else {
        return {0, 0};
    }
    if (pos + len > data.size()) return {0, 0};
    for (std::size_t i = 1; i < len; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || is_surrogate(c)) return {0, 0};
    return {c, len};
}

std::uint32_t read_unit(std::string_view data, std::size_t pos, std::size_t width,
                        bool little_endian) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t at = little_endian ? pos + width - 1 - i : pos + i;
        v = (v << 8) | static_cast<unsigned char>(data[at]);
    }
    return v;
}

void append_unit(std::string& out, std::uint32_t v, std::size_t width, bool little_endian) {
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t shift = little_endian ? 8 * i : 8 * (width - 1 - i);
        out += static_cast<char>((v >> shift) & 0xFF);
    }
}

std::string invalid_at(text_encoding encoding, std::size_t offset) {
    return "invalid " + std::string(encoding_label(encoding)) + " data at byte " +
           std::to_string(offset);
}

decoded_text decode_utf8(std::string_view data) {
    decoded_text result;
    std::size_t pos = 0;
    if (data.starts_with("\xEF\xBB\xBF")) {
        result.had_bom = true;
        pos = 3;
    }
    const std::size_t start = pos;
    while (pos < data.size()) {
        const auto [c, len] = next_utf8(data, pos);
        if (len == 0) {
            result.error = invalid_at(text_encoding::utf8, pos);
            return result;
        }
        pos += len;
    }
    result.text.assign(data.substr(start));
    return result;
}

decoded_text decode_utf16(std::string_view data, bool little_endian, text_encoding encoding) {
    decoded_text result;
    std::size_t pos = 0;
    if (data.size() >= 2 && read_unit(data, 0, 2, little_endian) == 0xFEFF) {
        result.had_bom = true;
        pos = 2;
    }
    result.text.reserve(data.size() / 2);
    while (pos < data.size()) {
        if (pos + 2 > data.size()) {
            result.error = invalid_at(encoding, pos) + " (odd length)";
            return result;
        }
        char32_t c = read_unit(data, pos, 2, little_endian);
        const std::size_t at = pos;
        pos += 2;
        if (c >= 0xD800 && c <= 0xDBFF) {
            const char32_t low =
                pos + 2 <= data.size() ? read_unit(data, pos, 2, little_endian) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                result.error = invalid_at(encoding, at) + " (unpaired surrogate)";
                return result;
            }
            pos += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        } else if (is_surrogate(c)) {
            result.error = invalid_at(encoding, at) + " (unpaired surrogate)";
            return result;
        }
        append_utf8(result.text, c);
    }
    return result;
}

decoded_text decode_utf32(std::string_view data, bool little_endian, text_encoding encoding) {
    decoded_text result;
    std::size_t pos = 0;
    if (data.size() >= 4 && read_unit(data, 0, 4, little_endian) == 0xFEFF) {
        result.had_bom = true;
        pos = 4;
    }
    while (pos < data.size()) {
        if (pos + 4 > data.size()) {
            result.error = invalid_at(encoding, pos) + " (length not a multiple of 4)";
            return result;
        }
        const char32_t c = read_unit(data, pos, 4, little_endian);
        if (c > 0x10FFFF || is_surrogate(c)) {
            result.error = invalid_at(encoding, pos) + " (not a Unicode character)";
            return result;
        }
        append_utf8(result.text, c);
        pos += 4;
    }
    return result;
}

}  // namespace

std::optional<text_encoding> encoding_of_type(std::string_view type_name) {
    for (const auto& entry : type_table) {
        if (entry.type_name == type_name) return entry.encoding;
    }
    return std::nullopt;
}

std::string_view encoding_label(text_encoding encoding) {
    for (const auto& entry : type_table) {
        if (entry.encoding == encoding) return entry.label;
    }
    return "?";
}

decoded_text decode_text(std::string_view data, text_encoding encoding) {
    switch (encoding) {
        case text_encoding::bytes:
            return decoded_text{std::string(data), false, {}};
        case text_encoding::utf8:
            return decode_utf8(data);
        case text_encoding::utf16le:
            return decode_utf16(data, true, encoding);
        case text_encoding::utf16be:
            return decode_utf16(data, false, encoding);
        case text_encoding::utf32le:
            return decode_utf32(data, true, encoding);
        case text_encoding::utf32be:
            return decode_utf32(data, false, encoding);
    }
    return decoded_text{{}, false, "unknown encoding"};
}

std::string encode_text(std::string_view text, text_encoding encoding, bool with_bom) {
    if (encoding == text_encoding::bytes) return std::string(text);
    std::string out;
    const bool utf16 = encoding == text_encoding::utf16le || encoding == text_encoding::utf16be;
    const bool little = encoding == text_encoding::utf16le || encoding == text_encoding::utf32le;
    const auto put = [&](char32_t c) {
        if (encoding == text_encoding::utf8) {
            append_utf8(out, c);
        } else if (utf16 && c >= 0x10000) {
            append_unit(out, 0xD800 + ((c - 0x10000) >> 10), 2, little);
            append_unit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), 2, little);
        } else {
            append_unit(out, c, utf16 ? 2 : 4, little);
        }
    };
    if (with_bom) put(0xFEFF);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto [c, len] = next_utf8(text, pos);
        put(len == 0 ? replacement_char : c);
        pos += len == 0 ? 1 : len;
    }
    return out;
}

std::optional<text_encoding> encoding_of_bom(std::string_view data) {
    using namespace std::string_view_literals;
    // Longest first: "\xFF\xFE" also begins the UTF-32LE mark.
    static constexpr std::array<std::pair<std::string_view, text_encoding>, 5> marks = {{
        {"\xFF\xFE\0\0"sv, text_encoding::utf32le},
        {"\0\0\xFE\xFF"sv, text_encoding::utf32be},
        {"\xEF\xBB\xBF"sv, text_encoding::utf8},
        {"\xFF\xFE"sv, text_encoding::utf16le},
        {"\xFE\xFF"sv, text_encoding::utf16be},
    }};
    for (const auto& [mark, encoding] : marks) {
        if (data.starts_with(mark)) return encoding;
    }
    return std::nullopt;
}

bool looks_binary(std::string_view data) {
    const auto bom = encoding_of_bom(data);
    if (bom && bom != text_encoding::utf8) return false;
    return data.substr(0, binary_probe_bytes).find('\0') != std::string_view::npos;
}

std::string sanitize_utf8(std::string_view text) {
    return encode_text(text, text_encoding::utf8, false);
}

}  // namespace zorv
