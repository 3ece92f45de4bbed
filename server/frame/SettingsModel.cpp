#include "server/frame/SettingsModel.h"

#include "server/state/Text.h"

namespace velora::server::frame {

void SettingsModel::load()
{
    std::vector<std::string> problems;
    settings_ = config_.loadcfg(state_, &problems);
    // Said once, not at every save or Online, until the file changes.
    if (problems != problems_)
        for (const std::string &p : problems)
            emit problem(state::shownMessage(p));
    problems_ = std::move(problems);
    // The box stays ticked only where sharing can be driven.
    if (settings_.ics && !sharingUsable_()) {
        settings_.ics = false;
        state_.dialSettings.ics = false;
    }
    emit loaded();
}

ServerConfig::SaveResult SettingsModel::save()
{
    auto result = config_.savecfg(settings_, state_);
    load();
    return result;
}

ServerConfig::SaveResult SettingsModel::save(Prompter &prompter)
{
    auto result = save();
    // A write that failed must not pass for a saved configuration.
    if (!result.ok)
        prompter.tell(Prompter::Kind::Error, "The configuration could not be saved: " + result.error);
    if (result.restartNotice)
        prompter.tell(Prompter::Kind::Information,
                      "you should stop the server  and start it again to activate configuration");
    return result;
}

}  // namespace velora::server::frame
