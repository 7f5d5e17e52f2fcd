#include <gtest/gtest.h>

#include <string>

#include "tools/zorvexplorer/files/text_codec.h"

namespace zorv {
namespace {

using namespace std::string_literals;

// "aé€😀\n" in each encoding, without a byte-order mark.
const std::string sample = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n";

struct encoded_case {
    const char* type_name;
    std::string bom;
    std::string bytes;
};

const encoded_case encoded_cases[] = {
    {"utf8_file_delta", "\xEF\xBB\xBF", sample},
    {"utf16le_file_delta", "\xFF\xFE", "a\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\n\0"s},
    {"utf16be_file_delta", "\xFE\xFF", "\0a\0\xE9\x20\xAC\xD8\x3D\xDE\x00\0\n"s},
    {"utf32le_file_delta", "\xFF\xFE\0\0"s, "a\0\0\0\xE9\0\0\0\xAC\x20\0\0\x00\xF6\x01\0\n\0\0\0"s},
    {"utf32be_file_delta", "\0\0\xFE\xFF"s, "\0\0\0a\0\0\0\xE9\0\0\x20\xAC\0\x01\xF6\x00\0\0\0\n"s},
};

TEST(text_codec, decodes_and_encodes_every_encoding_with_and_without_a_mark) {
    for (const auto& c : encoded_cases) {
        SCOPED_TRACE(c.type_name);
        const auto encoding = encoding_of_type(c.type_name);
        ASSERT_TRUE(encoding);
        for (const bool bom : {false, true}) {
            const std::string data = (bom ? c.bom : "") + c.bytes;
            const decoded_text d = decode_text(data, *encoding);
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.text, sample);
            EXPECT_EQ(d.had_bom, bom);
            EXPECT_EQ(encode_text(d.text, *encoding, bom), data);
        }
    }
}

TEST(text_codec, invalid_data_fails_with_its_offset) {
    struct bad {
        text_encoding encoding;
        std::string data;
        const char* offset;
    };
    const bad cases[] = {
        {text_encoding::utf8, "ab\xC3", "byte 2"},            // cut sequence
        {text_encoding::utf8, "a\xC0\xAF", "byte 1"},         // overlong
        {text_encoding::utf8, "\xED\xA0\x80", "byte 0"},      // surrogate
        {text_encoding::utf8, "\xF4\x90\x80\x80", "byte 0"},  // past U+10FFFF
        {text_encoding::utf8, "x\xFFy", "byte 1"},
        {text_encoding::utf16le, "a\0b"s, "byte 2"},         // odd length
        {text_encoding::utf16le, "a\0\x00\xDC"s, "byte 2"},  // lone low surrogate
        {text_encoding::utf16be, "\xD8\x3D\0a"s, "byte 0"},  // high without low
        {text_encoding::utf32le, "a\0\0\0b\0"s, "byte 4"},   // cut unit
        {text_encoding::utf32be, "\0\x11\0\0"s, "byte 0"},   // past U+10FFFF
        {text_encoding::utf32le, "\0\xD8\0\0"s, "byte 0"},   // surrogate
    };
    for (const auto& c : cases) {
        const decoded_text d = decode_text(c.data, c.encoding);
        EXPECT_FALSE(d.ok()) << encoding_label(c.encoding) << " " << testing::PrintToString(c.data);
        EXPECT_NE(d.error.find(c.offset), std::string::npos) << d.error;
        EXPECT_NE(d.error.find(encoding_label(c.encoding)), std::string::npos) << d.error;
    }
}

}  // namespace
}  // namespace zorv
