#include "common/IniProfile.h"

#include "common/FileIo.h"
#include "common/IniSyntax.h"
#include "common/NumberFormat.h"

#include <cstdint>

#include <vector>

namespace velora {

namespace {

using ini::equalsNoCase;
using ini::sectionOf;
using ini::trim;

struct Line {
    std::string_view text;        // without terminator
    std::string_view terminator;  // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t lf = content.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back({content.substr(start), {}});
            break;
        }
        std::size_t end = lf;
        if (end > start && content[end - 1] == '\r')
            --end;
        lines.push_back({content.substr(start, end - start), content.substr(end, lf + 1 - end)});
        start = lf + 1;
    }
    return lines;
}

bool isComment(std::string_view line)
{
    line = trim(line);
    return !line.empty() && line.front() == ';';
}

// Key and value of a "key=value" line.
std::optional<std::pair<std::string_view, std::string_view>> keyOf(std::string_view line)
{
    if (isComment(line))
        return std::nullopt;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

std::string_view unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniProfile::IniProfile(std::string path) : path_(std::move(path)) {}

std::optional<std::string> IniProfile::load() const { return held_ ? *held_ : readWholeFile(path_); }

IniProfile IniProfile::snapshot() const
{
    IniProfile copy(path_);
    copy.held_ = std::make_shared<const std::optional<std::string>>(load());
    return copy;
}

namespace {
std::optional<std::string_view> findValue(std::string_view content, std::string_view section,
                                          std::string_view key)
{
    bool inSection = false;
    bool seenSection = false;
    for (const Line &l : splitLines(content)) {
        if (const auto s = sectionOf(l.text)) {
            // Only the first section of a name counts, as with the platform's readers.
            if (inSection)
                return std::nullopt;
            inSection = !seenSection && equalsNoCase(*s, section);
            seenSection = seenSection || inSection;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto kv = keyOf(l.text); kv && equalsNoCase(kv->first, key))
            return kv->second;
    }
    return std::nullopt;
}
}  // namespace

std::string IniProfile::readString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const
{
    const auto content = load();
    if (!content)
        return std::string(defaultValue);
    const auto v = findValue(*content, section, key);
    return std::string(v ? unquote(*v) : defaultValue);
}

bool IniProfile::hasKey(std::string_view section, std::string_view key) const
{
    const auto content = load();
    return content && findValue(*content, section, key).has_value();
}

int IniProfile::readInteger(std::string_view section, std::string_view key, int defaultValue) const
{
    const std::string text = readString(section, key, {});
    return static_cast<int>(parseDecimal(trim(text), INT32_MIN, INT32_MAX).value_or(defaultValue));
}

int IniProfile::readNumber(std::string_view section, std::string_view key, int min, int max, int defaultValue,
                           std::vector<std::string> *problems) const
{
    const std::string text = readString(section, key, {});
    if (text.empty())
        return defaultValue;
    if (const auto v = parseDecimal(text, min, max))
        return static_cast<int>(*v);
    if (problems)
        problems->push_back(path_ + ": [" + std::string(section) + "] " + std::string(key) + "=" + text +
                            " is not a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                            "; using " + std::to_string(defaultValue));
    return defaultValue;
}

bool IniProfile::writeString(std::string_view section, std::string_view key, std::string_view value,
                             std::string *error) const
{
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) ||
        section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
        trim(key).empty())
        return fail("invalid section, key or value");

    const std::string content = load().value_or(std::string());
    const auto lines = splitLines(content);
    std::string eol = "\n";
    if (!lines.empty() && lines.front().terminator == "\r\n")
        eol = "\r\n";

    std::string keyLine(key);
    keyLine += '=';
    keyLine += value;

    // Where to put the key: replace its line, or insert after the last
    // non-blank line of its section.
    std::optional<std::size_t> replaceAt;
    std::optional<std::size_t> insertAfter;
    bool inSection = false;
    bool seenSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto s = sectionOf(lines[i].text)) {
            if (inSection)
                break;
            inSection = !seenSection && equalsNoCase(*s, section);
            if (inSection) {
                seenSection = true;
                insertAfter = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (const auto kv = keyOf(lines[i].text); kv && equalsNoCase(kv->first, key)) {
            replaceAt = i;
            break;
        }
        if (!trim(lines[i].text).empty())
            insertAfter = i;
    }

    std::string out;
    out.reserve(content.size() + keyLine.size() + section.size() + 8);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (replaceAt && *replaceAt == i) {
            out += keyLine;
            out += lines[i].terminator.empty() ? std::string_view(eol) : lines[i].terminator;
            continue;
        }
        out += lines[i].text;
        // A last line without terminator gets one when something follows it.
        if (lines[i].terminator.empty() && (i + 1 < lines.size() || !replaceAt))
            out += eol;
        else
            out += lines[i].terminator;
        if (!replaceAt && insertAfter && *insertAfter == i) {
            out += keyLine;
            out += eol;
        }
    }
    if (!replaceAt && !insertAfter) {
        out += '[';
        out += section;
        out += ']';
        out += eol;
        out += keyLine;
        out += eol;
    }

    // Beside the file and renamed over it: a crash or a full disk never
    // leaves half a configuration behind.
    return writeFileAtomically(path_, out, WriteMode{}, error);
}

}  // namespace velora
