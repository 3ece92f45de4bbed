#include "server/dialup/entries/EntryStore.h"

#include <algorithm>

#include "server/dialup/entries/RasTexts.h"

namespace velora::server::dialup {



bool isValidEntryName(const std::string &name)
{
    if (name.empty() || name.size() > 256)
        return false;
    const auto blank = [](unsigned char c) { return c <= 0x20; };
    if (blank(name.front()) || blank(name.back()))
        return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']' || c == 0xE0 ||
            (c >= 0xE2 && c <= 0xE5))
            return false;
    }
    return true;
}

namespace {

const std::string *valueOf(const std::vector<EntryField> &fields, const char *key)
{
    for (const EntryField &f : fields)
        if (f.key == key)
            return &f.value;
    return nullptr;
}

bool isNumber(const std::string &s)
{
    if (s.empty() || s.size() > 10)
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return std::stoull(s) <= 4294967295ULL;
}

bool isAddress(const std::string &s)
{
    int parts = 0;
    std::size_t at = 0;
    while (at <= s.size()) {
        const std::size_t dot = std::min(s.find('.', at), s.size());
        const std::string part = s.substr(at, dot - at);
        if (part.empty() || part.size() > 3 || !isNumber(part) || std::stoi(part) > 255)
            return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool isInterface(const std::string &s)
{
    if (s.empty() || s.size() > 15 || s == "." || s == "..")
        return false;
    for (const char c : s)
        if (c <= 0x20 || c == '/' || c == ':' || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    return true;
}

}  // namespace

std::string checkEntryFields(const std::vector<EntryField> &fields)
{
    for (const EntryField &f : fields) {
        const std::string &label = f.label;
        if (f.value.find_first_of("\r\n") != std::string::npos)
            return label + " may not hold a line break.";
        if (f.value.empty()) {
            if (f.required)
                return label + " is needed.";
            continue;
        }
        switch (f.kind) {
        case EntryField::Kind::Number:
            if (!isNumber(f.value))
                return label + " must be a whole number.";
            break;
        case EntryField::Kind::Address:
            if (!isAddress(f.value))
                return label + " must be an IPv4 address such as 10.64.10.2.";
            break;
        case EntryField::Kind::Interface:
            if (!isInterface(f.value))
                return label + " must be a network interface name of at most 15 characters, such as ppp0.";
            break;
        case EntryField::Kind::Device:
            if (f.value.rfind("/dev/", 0) != 0 || f.value.find_first_of(" \t\"'#\\") != std::string::npos)
                return label + " must be a device path such as /dev/ttyS0.";
            break;
        case EntryField::Kind::Command:
        case EntryField::Kind::Text:
            break;
        }
    }
    return {};
}

std::vector<EntryField> EntryStore::entryFields(const std::string &entry) const
{
    EntryProperties p;
    if (!entry.empty())
        getEntryProperties(entry, p);
    return {{"phone", "Phone number", p.phoneNumber},
            {"device", "Device name", p.deviceName},
            {"devicetype", "Device type", p.deviceType}};
}

int EntryStore::saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                                std::string *why)
{
    if (const std::string wrong = checkEntryFields(fields); !wrong.empty()) {
        if (why)
            *why = wrong;
        return RasError::InvalidParameter;
    }
    EntryProperties p;
    if (const std::string *v = valueOf(fields, "phone"))
        p.phoneNumber = *v;
    if (const std::string *v = valueOf(fields, "device"))
        p.deviceName = *v;
    if (const std::string *v = valueOf(fields, "devicetype"))
        p.deviceType = *v;
    return create ? createEntry(entry, p) : setEntryProperties(entry, p);
}

}  // namespace velora::server::dialup
