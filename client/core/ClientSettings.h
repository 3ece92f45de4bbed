#pragma once
// The client's positional settings (config/config.cfg), the client folder
// they live in, and the "start with the desktop" autostart entry.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <QString>

namespace velora::client::core {

// Client folder: --clientdir, else VELORA_CLIENTDIR, else
// $XDG_CONFIG_HOME/velora-client (~/.config/velora-client): a program started
// from the menu runs in the home folder, which is no place for its files.
QString resolveClientDir(const QString &fromCommandLine);
// The folder without --clientdir and VELORA_CLIENTDIR.
QString defaultClientDir();
// $XDG_CONFIG_HOME/autostart/velora-client.desktop (or ~/.config/...).
QString defaultAutostartFile();

struct AppliedSettings {
    std::string host;
    std::uint16_t port = 225;
    int pollIntervalMs = 1000;
    // The lines travel inside TLS, to this port of the server.
    bool encrypted = false;
    std::uint16_t tlsPort = 226;
};

class ClientSettings {
public:
    enum Line {
        ServerAddress,
        ServerPort,
        UpdateInterval,
        DefaultEntry,
        Autoconnect,
        Minimize,
        StartWithDesktop,
        ShowTips,
        // Added later: a file without it reads as on.
        ReconnectAutomatically,
        // Added later still: a file without it reads as off, a new folder
        // starts with it on. The port of encrypted connections follows it.
        Encrypted,
        EncryptedPort,
        LineCount
    };

    // What the Configuration panel and the tip window hold when saving.
    struct PanelValues {
        std::string address;  // trimmed by savecfg
        std::string port;
        std::string interval;
        std::string defaultEntry;
        bool autoconnect = false;
        bool minimize = false;
        bool startWithDesktop = false;
        bool showTips = false;
        bool reconnect = true;
        bool encrypted = true;
        std::string encryptedPort;
    };

    ClientSettings(QString clientDir, QString autostartFile);

    const QString &clientDir() const { return clientDir_; }
    QString configFile() const;
    QString savedLoginFile() const;
    QString tipFile() const;
    // The fingerprints of the servers' certificates this client trusts.
    QString pinFile() const;
    QString helpFile(const QString &name) const;

    // Values as read, Windows-1252 bytes.
    const std::string &value(Line line) const { return values_[line]; }
    void setValue(Line line, std::string v) { values_[line] = std::move(v); }
    // A flag is on only when its line is exactly "1".
    bool flag(Line line) const { return values_[line] == "1"; }
    // Reconnect after a lost session: on unless the line says "0".
    bool reconnectAutomatically() const { return values_[ReconnectAutomatically] != "0"; }

    // Copies the file's first lines, one a setting; settings beyond the file's length
    // keep their values. False when the file cannot be read.
    bool loadcfg();
    // Why the last loadcfg failed on a file that is there; empty otherwise.
    const QString &loadError() const { return loadError_; }
    // Writes the panel values and sets or removes the autostart entry. The
    // values in use change only at the next loadcfg. False with a reason on failure.
    bool savecfg(const PanelValues &panel, const QString &programPath, QString *error = nullptr) const;

    // Fills the empty port and interval with their defaults, then converts.
    // std::nullopt with a reason when a number does not convert.
    std::optional<AppliedSettings> activatecfg(QString *error = nullptr);

    // The autostart entry exists and names a command.
    bool autostartEnabled() const;
    const QString &autostartFile() const { return autostartFile_; }

private:
    QString loadError_;
    QString clientDir_;
    QString autostartFile_;
    std::array<std::string, LineCount> values_;
};

}  // namespace velora::client::core
