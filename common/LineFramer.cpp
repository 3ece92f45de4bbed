#include "common/LineFramer.h"

namespace velora {

LineFramer::LineFramer(std::size_t maxLineLength) : maxLineLength_(maxLineLength) {}

void LineFramer::reset()
{
    pending_.clear();
    failed_ = false;
}

bool LineFramer::feed(std::string_view chunk, std::vector<std::string> &lines)
{
    if (failed_)
        return false;
    std::size_t start = 0;
    while (start <= chunk.size()) {
        const std::size_t lf = chunk.find('\n', start);
        const std::string_view piece =
            chunk.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
        pending_.append(piece);
        if (lf == std::string_view::npos) {
            // Still waiting for the LF: the line may yet end with a CR, so one
            // byte more than the limit is allowed only when it is that CR.
            if (pending_.size() > maxLineLength_ + 1 ||
                (pending_.size() == maxLineLength_ + 1 && pending_.back() != '\r')) {
                failed_ = true;
                pending_.clear();
                return false;
            }
            break;
        }
        if (!pending_.empty() && pending_.back() == '\r')
            pending_.pop_back();
        if (pending_.size() > maxLineLength_) {
            failed_ = true;
            pending_.clear();
            return false;
        }
        lines.push_back(std::move(pending_));
        pending_.clear();
        start = lf + 1;
    }
    return true;
}

}  // namespace velora
