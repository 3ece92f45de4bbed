#include "server/dialup/entries/PhonebookFile.h"

#include "common/FileIo.h"
#include "common/IniSyntax.h"

#include <cerrno>

namespace velora::server::dialup::phonebook {

namespace {

using ini::sectionOf;

struct Line {
    std::string_view text;  // with its terminator
    std::string_view body;  // without
};

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t lf = content.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? content.size() : lf + 1;
        std::string_view text = content.substr(start, end - start);
        std::string_view body = text;
        if (!body.empty() && body.back() == '\n')
            body.remove_suffix(1);
        if (!body.empty() && body.back() == '\r')
            body.remove_suffix(1);
        lines.push_back({text, body});
        start = end;
    }
    return lines;
}

std::string_view eolOf(std::string_view content)
{
    const std::size_t lf = content.find('\n');
    return lf != std::string_view::npos && lf > 0 && content[lf - 1] == '\r' ? "\r\n" : "\n";
}

// The content with a line break after its last line, so that text can follow.
std::string terminated(std::string_view content)
{
    std::string out(content);
    if (!out.empty() && out.back() != '\n')
        out += eolOf(content);
    return out;
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) { return ini::equalsNoCase(a, b); }

std::optional<std::string> load(const std::string &path)
{
    int e = 0;
    auto content = readWholeFile(path, &e);
    if (!content && e == ENOENT)
        return std::string();
    errno = e;
    return content;
}

std::vector<std::string> sectionNames(std::string_view content)
{
    std::vector<std::string> names;
    for (const Line &l : splitLines(content)) {
        const auto s = sectionOf(l.body);
        if (!s)
            continue;
        bool seen = false;
        for (const std::string &n : names)
            seen = seen || equalsNoCase(n, *s);
        if (!seen)
            names.emplace_back(*s);
    }
    return names;
}

std::optional<std::string> findSection(std::string_view content, std::string_view name)
{
    for (const Line &l : splitLines(content))
        if (const auto s = sectionOf(l.body); s && equalsNoCase(*s, name))
            return std::string(*s);
    return std::nullopt;
}

std::string removeSection(std::string_view content, std::string_view name)
{
    std::string out;
    out.reserve(content.size());
    bool skipping = false;
    for (const Line &l : splitLines(content)) {
        if (const auto s = sectionOf(l.body))
            skipping = equalsNoCase(*s, name);
        if (!skipping)
            out += l.text;
    }
    return out;
}

std::string renameSection(std::string_view content, std::string_view oldName,
                          std::string_view newName)
{
    std::string out;
    out.reserve(content.size() + newName.size());
    for (const Line &l : splitLines(content)) {
        const auto s = sectionOf(l.body);
        if (!s || !equalsNoCase(*s, oldName)) {
            out += l.text;
            continue;
        }
        out += '[';
        out += newName;
        out += ']';
        out += l.text.substr(l.body.size());  // the line's own terminator
    }
    return out;
}

std::string appendSection(std::string_view content, std::string_view name,
                          const std::vector<std::pair<std::string, std::string>> &keys)
{
    const std::string_view eol = eolOf(content);
    std::string out = terminated(content);
    out += '[';
    out += name;
    out += ']';
    out += eol;
    for (const auto &[key, value] : keys) {
        out += key;
        out += '=';
        out += quoteValue(value);
        out += eol;
    }
    return out;
}

std::string quoteValue(std::string_view value)
{
    if (value.empty())
        return {};
    const auto edge = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    if (edge(value.front()) || edge(value.back()))
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

bool save(const std::string &path, std::string_view content, std::string *error)
{
    return writeFileAtomically(path, content, WriteMode{}, error);
}

}  // namespace velora::server::dialup::phonebook
