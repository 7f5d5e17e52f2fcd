# One embedded asset: INPUT's bytes as the std::string_view SYMBOL in namespace NAMESPACE,
# written to OUTPUT. Run by varnex_embed_assets (embed_assets.cmake) at build time.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# One literal per 64 bytes, every byte a \x escape, so that no byte of the file can end or
# bend the literal.
string(REPEAT "[0-9a-f]" 128 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
string(REGEX REPLACE "\n$" "" escaped "${escaped}")
string(REPLACE "\n" "\"\n    \"" escaped "${escaped}")
file(WRITE ${OUTPUT}.tmp "// Generated from ${INPUT}; do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {
constexpr char ${SYMBOL}_bytes[] =
    \"${escaped}\";
}  // namespace

extern const std::string_view ${SYMBOL}{${SYMBOL}_bytes, ${size}};

}  // namespace ${NAMESPACE}
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
