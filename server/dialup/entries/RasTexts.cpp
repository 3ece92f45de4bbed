#include "server/dialup/entries/RasTexts.h"

#include <array>
#include <utility>

namespace velora::server::dialup {

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

// pppd's exit statuses as its manual explains them.
constexpr std::array<const char *, 20> kPppdExitTexts{{
    "The connection ended at the peer's request.",
    "The dialer stopped on a fatal error.",
    "The dialer's options for this entry are wrong.",
    "The dialer is not allowed to run: it needs root.",
    "The kernel has no PPP support.",
    "The dialer was stopped by a signal.",
    "The serial port could not be locked.",
    "The serial port could not be opened.",
    "The connect script failed.",
    "The pty command could not be run.",
    "The PPP negotiation failed.",
    "The peer failed to authenticate itself.",
    "The link was idle and was closed.",
    "The connect time limit was reached.",
    "Callback was negotiated; a call should arrive shortly.",
    "The peer is not responding to echo requests.",
    "The modem hung up.",
    "Serial loopback was detected.",
    "The init script failed.",
    "Authentication failed: the provider refused the user name or password.",
}};

constexpr std::array<std::pair<int, const char *>, 23> kErrorTexts{{
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
    {RasError::DialerCrashed, "The dialer ended abnormally."},
    {RasError::DialerNotStarted, "The dialer program could not be started."},
    {RasError::EntryIncomplete, "The phone book entry has no connect command or no interface."},
    {RasError::CommandSyntax, "A command of the phone book entry has an unmatched quote."},
    {RasError::CommandTimeout, "The connection did not come up in time."},
    {RasError::CommandFailed, "The connect command failed."},
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
    if (code >= RasError::PppdExit && code <= RasError::PppdExitLast) {
        const int status = code - RasError::PppdExit;
        if (status < static_cast<int>(kPppdExitTexts.size()))
            return kPppdExitTexts[static_cast<std::size_t>(status)];
        return "The dialer ended with exit status " + std::to_string(status) + ".";
    }
    for (const auto &[number, text] : kErrorTexts)
        if (number == code)
            return text;
    return "Error " + std::to_string(code) + ".";
}

}  // namespace velora::server::dialup
