#pragma once
// The new-message sound without an audio device: records what would play.

#include <QString>
#include <QStringList>

#include "widgets/SoundPlayer.h"

namespace velora::test {

class FakeSoundPlayer : public velora::widgets::SoundPlayer {
public:
    explicit FakeSoundPlayer(QStringList *played) : played_(played) {}
    void play(const QString &file) override { played_->append(file); }

private:
    QStringList *played_;
};

}  // namespace velora::test
