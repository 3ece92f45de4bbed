#pragma once
// The configuration page's model: config.ini loaded into the settings the
// page shows (its problems said once until the file changes, the sharing box
// cleared where sharing cannot be driven) and saved back from them.

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "common/Prompter.h"
#include "server/frame/ServerConfig.h"
#include "server/state/ServerState.h"

namespace velora::server::frame {

class SettingsModel : public QObject {
    Q_OBJECT
public:
    SettingsModel(ServerConfig &config, state::ServerState &state, std::function<bool()> sharingUsable,
                  QObject *parent = nullptr)
        : QObject(parent), config_(config), state_(state), sharingUsable_(std::move(sharingUsable))
    {
    }

    ServerSettings &settings() { return settings_; }
    const ServerSettings &settings() const { return settings_; }

    // loadcfg: file -> settings.
    void load();
    // savecfg: settings -> file, then loaded again.
    ServerConfig::SaveResult save();
    // The same, telling the person what a failed write or a changed port calls for.
    ServerConfig::SaveResult save(Prompter &prompter);

signals:
    void loaded();
    void problem(const QString &text);

private:
    ServerConfig &config_;
    state::ServerState &state_;
    std::function<bool()> sharingUsable_;
    ServerSettings settings_;
    std::vector<std::string> problems_;  // the last load's, said once
};

}  // namespace velora::server::frame
