#include "RasTexts.h"

#include <array>
#include <utility>

namespace velora::server {

namespace {

constexpr std::array<std::pair<int, const char *>, 28> kStateTexts{{
    {0, "Opening port"},
    {1, "Port opened"},
    {2, "Connecting device"},
    {3, "Device connected"},
    {4, "All devices connected"},
    {5, "Start authenticating"},
    {6, "Authentication: notify"},
    {7, "Authentication: retry"},
    {8, "Authentication: callback"},
    {9, "Authentication: change password"},
    {10, "Authentication: projecting"},
    {11, "Authentication: link speed"},
    {12, "Authentication: acknowledge"},
    {13, "Authentication: reauthenticate"},
    {14, "Authenticated"},
    {15, "Preparing for callback"},
    {16, "Waiting for modem reset"},
    {17, "Waiting for callback"},
    {18, "Projected"},
    {19, "Start authentication"},
    {20, "Callback complete"},
    {21, "Logging on network"},
    {4096, "Interactive"},
    {4097, "Retry Authentication"},
    {4098, "Callback set by caller"},
    {4099, "Password expired"},
    {8192, "Connected"},
    {8193, "Disconnected"},
}};

constexpr std::array<std::pair<int, const char *>, 17> kErrorTexts{{
    {RasError::InvalidHandle, "The handle is invalid."},
    {RasError::NotSupported, "The request is not supported."},
    {RasError::InvalidParameter, "The parameter is incorrect."},
    {RasError::AlreadyExists, "An entry with that name already exists."},
    {RasError::PortAlreadyOpen, "The port is already open."},
    {RasError::CannotOpenPhonebook, "The phone book file could not be opened."},
    {RasError::CannotFindPhonebookEntry, "The phone book entry could not be found."},
    {RasError::CannotWritePhonebook, "The phone book file could not be updated."},
    {629, "The connection was closed by the remote computer."},
    {RasError::UserDisconnection, "The connection was closed by the user."},
    {RasError::NoConnection, "The connection was terminated."},
    {RasError::LineBusy, "The line is busy."},
    {RasError::NoAnswer, "There is no answer."},
    {RasError::NoDialTone, "There is no dial tone."},
    {RasError::AuthenticationFailure,
     "Access was denied because the user name and/or password was invalid."},
    {692, "There was a hardware failure in the modem."},
    {RasError::ProjectionNotComplete, "The connection has no network address yet."},
}};

}  // namespace

std::string rasStateText(int state)
{
    for (const auto &[number, text] : kStateTexts)
        if (number == state)
            return text;
    return {};
}

std::string rasErrorText(int code)
{
    for (const auto &[number, text] : kErrorTexts)
        if (number == code)
            return text;
    return "Error " + std::to_string(code) + ".";
}

}  // namespace velora::server
