#include "server/dialup/lines/LineDriver.h"

#include "server/dialup/entries/RasTexts.h"

namespace velora::server::dialup {

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

void LineDriver::reportStep(ConnHandle handle, int &reached, int errorCode, int state)
{
    if (errorCode != 0 || reached >= state)
        return;
    reached = state;
    emit dialProgress(handle, state, 0);
}

std::string LineDriver::errorText(int code) const
{
    return rasErrorText(code);
}

}  // namespace velora::server::dialup
