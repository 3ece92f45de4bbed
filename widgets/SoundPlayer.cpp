#include "widgets/SoundPlayer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace velora::widgets {

EffectSoundPlayer::EffectSoundPlayer() = default;
EffectSoundPlayer::~EffectSoundPlayer() = default;

void EffectSoundPlayer::play(const QString &file)
{
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return;
    if (!effect_)
        effect_ = std::make_unique<QSoundEffect>();
    const QUrl url = QUrl::fromLocalFile(file);
    if (effect_->source() != url)
        effect_->setSource(url);
    // Queued until the file is decoded; an effect without a device fails
    // quietly in its own status.
    effect_->play();
}

QString notifySoundFile(const QString &dataDir)
{
    const QString name = QStringLiteral("notify.wav");
    const QString programDir = QCoreApplication::applicationDirPath();
    // Installed, the sound sits in share/velora beside bin/.
    for (const QString &dir : {dataDir, programDir, programDir + QStringLiteral("/../share/velora")}) {
        if (dir.isEmpty())
            continue;
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

}  // namespace velora::widgets
