#include <gtest/gtest.h>

#include <string>

#include "tools/zorvexplorer/diff/binary_compare.h"
#include "tools/zorvexplorer/pages/compare_page.h"
#include "tools/zorvexplorer/diff/sha256.h"
#include "tools/zorvexplorer/files/text_codec.h"

namespace zorv {
namespace {

using namespace std::string_literals;

TEST(encoding_of_bom, names_the_encoding_of_each_mark) {
    const struct {
        std::string data;
        std::optional<text_encoding> encoding;
    } rows[] = {
        {"\xEF\xBB\xBFx", text_encoding::utf8},
        {"\xFF\xFEx\0"s, text_encoding::utf16le},
        {"\xFE\xFF\0x"s, text_encoding::utf16be},
        {"\xFF\xFE\0\0x\0\0\0"s, text_encoding::utf32le},
        {"\0\0\xFE\xFF\0\0\0x"s, text_encoding::utf32be},
        {"\xEF\xBBx", std::nullopt},
        {"\xFF", std::nullopt},
        {"plain", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(encoding_of_bom(r.data), r.encoding) << testing::PrintToString(r.data);
    }
}

TEST(looks_binary, finds_a_nul_in_the_first_8000_bytes_of_a_file_without_a_wide_mark) {
    const struct {
        std::string what;
        std::string data;
        bool binary;
    } rows[] = {
        {"text", "line\nline\n", false},
        {"empty", "", false},
        {"a NUL", "PK\x03\x04\0\0"s, true},
        {"a NUL at byte 7999", std::string(7999, 'a') + '\0', true},
        {"a NUL at byte 8000", std::string(8000, 'a') + '\0', false},
        {"UTF-16LE with its mark", "\xFF\xFEx\0"s, false},
        {"UTF-16BE with its mark", "\xFE\xFF\0x"s, false},
        {"UTF-32BE with its mark", "\0\0\xFE\xFF\0\0\0x"s, false},
        {"UTF-16LE without a mark", "x\0y\0"s, true},
        {"UTF-8 mark and a NUL", "\xEF\xBB\xBFx\0"s, true},
    };
    for (const auto& r : rows) EXPECT_EQ(looks_binary(r.data), r.binary) << r.what;
}

TEST(sha256_hex, matches_the_standard_digests_around_block_edges) {
    const struct {
        std::string data;
        const char* digest;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& r : rows) EXPECT_EQ(sha256_hex(r.data), r.digest) << r.data.size();
}

std::string bytes_0_to_255_four_times() {
    std::string s;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    }
    return s;
}

TEST(render_compare_page, shows_a_pair_with_a_binary_file_by_size_and_digest_only) {
    const std::string binary = bytes_0_to_255_four_times();
    const std::string changed = binary.substr(0, 1023) + "!";
    const file_facts facts = facts_of(binary, true);
    EXPECT_EQ(facts.size, 1024u);
    EXPECT_EQ(facts.digest, "785b0751fc2c53dc14a4ce3d800e69ef9ce1009eb327ccf458afe09c242c26c9");

    const std::string same =
        render_compare_page({"a.bin", "b.bin"}, {"", ""}, {facts, facts_of(binary, true)});
    EXPECT_NE(same.find("a.bin &harr; b.bin: binary files are identical"), std::string::npos);
    EXPECT_NE(same.find("The files are identical."), std::string::npos);
    EXPECT_NE(same.find("1024 bytes</td><td class=\"digest\">SHA-256 "
                        "785b0751fc2c53dc14a4ce3d800e69ef9ce1009eb327ccf458afe09c242c26c9"),
              std::string::npos);

    const std::string text = "just text\n";
    const std::string differ =
        render_compare_page({"a.bin", "b.bin", "c.txt"}, {"", "", text},
                            {facts, facts_of(changed, true), facts_of(text, false)});
    EXPECT_NE(differ.find("a.bin &harr; b.bin: binary files differ"), std::string::npos);
    EXPECT_NE(differ.find("a.bin &harr; c.txt: binary files differ"), std::string::npos);
    EXPECT_NE(differ.find("The files differ: 2 changes."), std::string::npos);
    EXPECT_NE(differ.find("<a href=\"#change-2\">2: binary</a>"), std::string::npos);
    EXPECT_NE(differ.find("10 bytes"), std::string::npos);
    // Never a byte of the file shown as text.
    EXPECT_EQ(differ.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(differ.find("just text"), std::string::npos);
}

}  // namespace
}  // namespace zorv
