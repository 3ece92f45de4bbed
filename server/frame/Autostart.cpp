#include "server/frame/Autostart.h"

#include "common/FileIo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace velora::server::frame {

std::string XdgAutostart::autostartDir()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return std::string(config) + "/autostart";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/root") + "/.config/autostart";
}

XdgAutostart::XdgAutostart(std::string fileName, std::string displayName, std::string exec)
    : path_(autostartDir() + "/" + fileName), displayName_(std::move(displayName)),
      exec_(std::move(exec))
{
}

bool XdgAutostart::isEnabled() const
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path_, ec) && std::filesystem::file_size(path_, ec) > 0;
}

bool XdgAutostart::enable(std::string *error)
{
    const std::string text = "[Desktop Entry]\nType=Application\nName=" + displayName_ + "\nExec=" + exec_ +
                             "\nX-GNOME-Autostart-enabled=true\n";
    return writeFileAtomically(path_, text, WriteMode{0644, true}, error);
}

bool XdgAutostart::disable(std::string *error)
{
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    if (ec) {
        if (error)
            *error = path_ + ": " + ec.message();
        return false;
    }
    return true;
}

std::string desktopExecQuote(const std::string &arg)
{
    // Reserved characters force quoting; inside quotes ", `, $ and \ are escaped.
    if (!arg.empty() && arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`%") == std::string::npos)
        return arg;
    std::string out = "\"";
    for (const char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace velora::server::frame
