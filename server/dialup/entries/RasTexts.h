#pragma once
// The line's state numbers, their English texts and the error codes and texts
// of the line drivers, kept in one place so every driver speaks alike.

#include <string>

namespace velora::server::dialup {

namespace RasState {
inline constexpr int OpenPort = 0;
inline constexpr int PortOpened = 1;
inline constexpr int ConnectDevice = 2;
inline constexpr int DeviceConnected = 3;
inline constexpr int AllDevicesConnected = 4;
inline constexpr int Authenticate = 5;
inline constexpr int Authenticated = 14;
inline constexpr int Projected = 18;
inline constexpr int Connected = 8192;
inline constexpr int Disconnected = 8193;
}  // namespace RasState

namespace RasError {
inline constexpr int InvalidHandle = 6;
inline constexpr int InvalidParameter = 87;
inline constexpr int AlreadyExists = 183;
inline constexpr int PortAlreadyOpen = 602;
inline constexpr int CannotOpenPhonebook = 621;
inline constexpr int CannotFindPhonebookEntry = 623;
inline constexpr int CannotWritePhonebook = 624;
inline constexpr int UserDisconnection = 631;
inline constexpr int NoConnection = 668;
inline constexpr int LineBusy = 676;
inline constexpr int NoAnswer = 678;
inline constexpr int NoDialTone = 680;
inline constexpr int AuthenticationFailure = 691;
inline constexpr int ProjectionNotComplete = 730;
inline constexpr int NotSupported = 50;

// Codes of the real lines. pppd's exit status s is reported as PppdExit + s.
inline constexpr int PppdExit = 20000;
inline constexpr int PppdExitLast = PppdExit + 255;
inline constexpr int DialerCrashed = 20300;
inline constexpr int DialerNotStarted = 20301;
inline constexpr int EntryIncomplete = 20400;
inline constexpr int CommandSyntax = 20401;
inline constexpr int CommandTimeout = 20402;
inline constexpr int CommandFailed = 20403;
}  // namespace RasError

// The English text of a state number; empty for a number outside the table.
std::string rasStateText(int state);

// The text of one of the codes above (and a few more a driver may report);
// "Error <code>." for a code without a text.
std::string rasErrorText(int code);

}  // namespace velora::server::dialup
