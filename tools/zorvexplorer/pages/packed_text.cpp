#include "tools/zorvexplorer/pages/packed_text.h"

#include <zlib.h>

#include <climits>

namespace zorv {

namespace {

// Text is handed to deflate in pieces of this size.
constexpr std::size_t piece = 1 << 20;

void base64_into(std::string& out, std::string_view data, bool last) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(data[k]); };
    for (; i + 2 < data.size(); i += 3) {
        const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += digits[v >> 6 & 63];
        out += digits[v & 63];
    }
    if (last && i < data.size()) {
        const bool two = i + 1 < data.size();
        const unsigned v = byte(i) << 16 | (two ? byte(i + 1) << 8 : 0);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += two ? digits[v >> 6 & 63] : '=';
        out += '=';
    }
}

}  // namespace

struct gzip_base64_writer::stream {
    z_stream z{};
    bool open = false;
};

gzip_base64_writer::gzip_base64_writer(int level) : z_(std::make_unique<stream>()) {
    // 15 window bits plus 16: a gzip header instead of a zlib one.
    z_->open = deflateInit2(&z_->z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    failed_ = !z_->open;
}

gzip_base64_writer::~gzip_base64_writer() {
    if (z_->open) deflateEnd(&z_->z);
}

void gzip_base64_writer::add(std::string_view text) {
    if (failed_) return;
    pending_ += text;
    if (pending_.size() >= piece) flush(false);
}

void gzip_base64_writer::flush(bool last) {
    z_stream& z = z_->z;
    z.next_in = reinterpret_cast<Bytef*>(pending_.data());
    z.avail_in = static_cast<uInt>(pending_.size());
    char buffer[1 << 16];
    int rc = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) {
            failed_ = true;
            return;
        }
        packed_.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
    pending_.clear();
    const std::size_t whole = last ? packed_.size() : packed_.size() / 3 * 3;
    base64_into(out_, std::string_view(packed_).substr(0, whole), last);
    packed_.erase(0, whole);
}

std::string gzip_base64_writer::finish() {
    if (!failed_) flush(true);
    if (failed_) return {};
    return std::move(out_);
}

std::string gzip_base64(std::string_view data, int level) {
    // One deflate call takes at most UINT_MAX bytes.
    if (data.size() > UINT_MAX) return {};
    gzip_base64_writer writer(level);
    for (std::size_t at = 0; at < data.size(); at += piece) writer.add(data.substr(at, piece));
    return writer.finish();
}

}  // namespace zorv
