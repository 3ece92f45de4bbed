#pragma once
// Cuts a byte stream into lines: bytes up to LF, without the LF and a CR
// before it. A line longer than MaxLineLength is an error that ends the stream.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velora {

class LineFramer {
public:
    static constexpr std::size_t MaxLineLength = 16384;

    explicit LineFramer(std::size_t maxLineLength = MaxLineLength);

    // Appends the complete lines found in chunk to lines. Returns false once a
    // line has been too long; the framer then stays failed and takes nothing more.
    bool feed(std::string_view chunk, std::vector<std::string> &lines);

    bool failed() const { return failed_; }
    std::size_t pendingBytes() const { return pending_.size(); }
    void reset();

private:
    std::size_t maxLineLength_;
    std::string pending_;
    bool failed_ = false;
};

}  // namespace velora
