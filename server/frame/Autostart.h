#pragma once
// Starting the program with the person's desktop session.

#include <string>

namespace velora::server::frame {

class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool isEnabled() const = 0;
    virtual bool enable(std::string *error = nullptr) = 0;
    virtual bool disable(std::string *error = nullptr) = 0;
};

// An XDG autostart entry ($XDG_CONFIG_HOME/autostart/NAME.desktop).
class XdgAutostart : public Autostart {
public:
    // exec: the command line the desktop runs.
    XdgAutostart(std::string fileName, std::string displayName, std::string exec);

    static std::string autostartDir();
    const std::string &path() const { return path_; }

    bool isEnabled() const override;
    bool enable(std::string *error = nullptr) override;
    bool disable(std::string *error = nullptr) override;

private:
    std::string path_;
    std::string displayName_;
    std::string exec_;
};

// Quotes one argument for a desktop entry's Exec line.
std::string desktopExecQuote(const std::string &arg);

}  // namespace velora::server::frame
