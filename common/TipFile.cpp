#include "common/TipFile.h"

#include "common/FileIo.h"
#include "common/TextLines.h"

#include <random>

namespace velora {

std::vector<std::string> parseTips(std::string_view content)
{
    std::vector<std::string> tips;
    std::string tip;
    for (const std::string &line : splitTextLines(content)) {
        if (line == "#") {
            tips.push_back(std::move(tip));
            tip.clear();
        } else if (!line.empty()) {
            tip += line;
            tip += '\n';
        }
    }
    return tips;
}

std::optional<std::vector<std::string>> readTipFile(const std::string &path)
{
    const auto content = readWholeFile(path);
    if (!content)
        return std::nullopt;
    // Bytes that are no text would show as garbage: the caller's own tips
    // stand in, as for a file that cannot be read.
    if (!looksLikeText(*content))
        return std::nullopt;
    return parseTips(*content);
}

TipList::TipList(std::vector<std::string> tips) : tips_(std::move(tips)) {}

void TipList::startRandom(std::uint64_t seed)
{
    current_ = 0;
    if (tips_.empty())
        return;
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::size_t> pick(0, tips_.size() - 1);
    current_ = pick(rng);
}

void TipList::next()
{
    if (tips_.empty())
        return;
    current_ = current_ + 1 < tips_.size() ? current_ + 1 : 0;
}

void TipList::previous()
{
    if (tips_.empty())
        return;
    current_ = current_ == 0 ? tips_.size() - 1 : current_ - 1;
}

std::string TipList::current() const
{
    return tips_.empty() ? std::string() : tips_[current_];
}

}  // namespace velora
