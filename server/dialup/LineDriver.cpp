#include "LineDriver.h"

#include "RasTexts.h"

namespace velora::server {

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

LineDriver::~LineDriver() = default;

int LineDriver::dial(const DialParams &params, ConnHandle &handle)
{
    handle = 0;
    const int rc = startDial(params, handle);
    if (rc != 0)
        handle = 0;
    else
        lastDial_ = handle;
    return rc;
}

int LineDriver::hangUp(ConnHandle handle)
{
    if (handle == 0)
        return RasError::InvalidHandle;
    if (handle == lastDial_)
        lastDial_ = 0;
    return endConnection(handle);
}

int LineDriver::hangUpLastDial()
{
    return lastDial_ == 0 ? 0 : hangUp(lastDial_);
}

int LineDriver::connectionSpeed(ConnHandle, std::uint32_t &bitsPerSecond) const
{
    bitsPerSecond = 0;
    return RasError::NotSupported;
}

std::string LineDriver::errorText(int code) const
{
    return rasErrorText(code);
}

}  // namespace velora::server
