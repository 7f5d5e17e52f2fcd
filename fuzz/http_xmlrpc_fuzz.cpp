// The reference client's reading of a pair message: the HTTP head, then the XML-RPC call.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/zorvexplorer/transport/http_frame.h"
#include "tools/zorvexplorer/transport/xmlrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const zorv::framed_request framed = zorv::unframe_request(input);
    // Bodies are mostly reached through a matching head; the bare input is a call too.
    if (framed.body) (void)zorv::parse_call(*framed.body);
    (void)zorv::parse_call(input);
    return 0;
}
