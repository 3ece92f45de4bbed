// The line framer on arbitrary chunks: lines never exceed the limit, and
// feeding byte by byte gives the same lines as feeding at once.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/LineFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    velora::LineFramer whole(64), pieces(64);
    std::vector<std::string> a, b;
    const bool okWhole = whole.feed(bytes, a);
    bool okPieces = true;
    for (std::size_t i = 0; i < bytes.size() && okPieces; ++i)
        okPieces = pieces.feed(bytes.substr(i, 1), b);
    if (okWhole != okPieces || a != b)
        std::abort();
    for (const auto &l : a)
        if (l.size() > 64)
            std::abort();
    return 0;
}
