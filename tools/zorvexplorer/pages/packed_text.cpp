#include "tools/zorvexplorer/pages/packed_text.h"

#include <zlib.h>

#include <climits>
#include <optional>

namespace zorv {

namespace {

std::optional<std::string> gzip(std::string_view data) {
    z_stream z{};
    // 15 window bits plus 16: a gzip header instead of a zlib one.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

std::string base64(std::string_view data) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(data[k]); };
    for (; i + 2 < data.size(); i += 3) {
        const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += digits[v >> 6 & 63];
        out += digits[v & 63];
    }
    if (i < data.size()) {
        const bool two = i + 1 < data.size();
        const unsigned v = byte(i) << 16 | (two ? byte(i + 1) << 8 : 0);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += two ? digits[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace

std::string gzip_base64(std::string_view data) {
    // One deflate call takes at most UINT_MAX bytes.
    if (data.size() > UINT_MAX) return {};
    const std::optional<std::string> packed = gzip(data);
    return packed ? base64(*packed) : std::string();
}

}  // namespace zorv
