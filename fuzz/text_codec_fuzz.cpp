// The reference client's text codecs: every decoding either fails or gives UTF-8 that
// encodes back and decodes to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/zorvexplorer/files/text_codec.h"

namespace {

using zorv::text_encoding;

constexpr text_encoding unicode[] = {text_encoding::utf8, text_encoding::utf16le,
                                     text_encoding::utf16be, text_encoding::utf32le,
                                     text_encoding::utf32be};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    (void)zorv::encoding_of_bom(input);
    (void)zorv::looks_binary(input);
    if (!zorv::decode_text(zorv::sanitize_utf8(input), text_encoding::utf8).ok()) std::abort();
    for (const text_encoding encoding : unicode) {
        const zorv::decoded_text decoded = zorv::decode_text(input, encoding);
        if (!decoded.ok()) continue;
        const zorv::decoded_text again =
            zorv::decode_text(zorv::encode_text(decoded.text, encoding, true), encoding);
        if (!again.ok() || again.text != decoded.text) std::abort();
    }
    return 0;
}
