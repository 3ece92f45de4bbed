#pragma once
// Tips of the day: a file where a line "#" ends each tip.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velora {

// Each tip is its non-empty lines, each followed by '\n'. Text after the last
// "#" line belongs to no tip.
std::vector<std::string> parseTips(std::string_view content);

// std::nullopt when the file cannot be read or is not text.
std::optional<std::vector<std::string>> readTipFile(const std::string &path);

class TipList {
public:
    TipList() = default;
    explicit TipList(std::vector<std::string> tips);

    // Picks the start tip at random; the seed makes it repeatable in tests.
    void startRandom(std::uint64_t seed);
    void next();
    void previous();

    bool empty() const { return tips_.empty(); }
    std::size_t size() const { return tips_.size(); }
    std::size_t currentIndex() const { return current_; }
    // The tip on show, "" when there is none.
    std::string current() const;

private:
    std::vector<std::string> tips_;
    std::size_t current_ = 0;
};

}  // namespace velora
