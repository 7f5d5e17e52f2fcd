// Text packed small enough to ride along in a page: gzip, then base64.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zorv {

/// data compressed as a gzip stream (at level, 1 to 9) and written in base64 (no line
/// breaks); a browser unpacks it with atob and DecompressionStream("gzip"). Empty when
/// compression fails.
std::string gzip_base64(std::string_view data, int level = 9);

/// The same packing for text written piece by piece, so that a large text is never held
/// whole: what is added is compressed as it comes.
class gzip_base64_writer {
  public:
    explicit gzip_base64_writer(int level = 6);
    ~gzip_base64_writer();
    gzip_base64_writer(const gzip_base64_writer&) = delete;
    gzip_base64_writer& operator=(const gzip_base64_writer&) = delete;

    void add(std::string_view text);
    /// The packed text; empty when compression failed.
    std::string finish();

  private:
    void flush(bool last);
    struct stream;
    std::unique_ptr<stream> z_;
    std::string pending_;  // not yet compressed
    std::string packed_;   // compressed, not yet in base64 (a multiple of 3 is taken at a time)
    std::string out_;
    bool failed_ = false;
};

}  // namespace zorv
