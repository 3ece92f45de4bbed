#pragma once
// The new-message sound. Playing never waits for the sound to end, and a
// missing file or a machine without an audio device simply stays silent.

#include <QString>
#include <memory>

class QSoundEffect;

namespace velora::widgets {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &file) = 0;
};

// Through Qt Multimedia; the effect is made at the first sound, so a program
// that never gets a message never opens the audio system.
class EffectSoundPlayer : public SoundPlayer {
public:
    EffectSoundPlayer();
    ~EffectSoundPlayer() override;
    void play(const QString &file) override;

private:
    std::unique_ptr<QSoundEffect> effect_;
};

// "notify.wav" in the program's data folder, else the one beside the
// program, else the installed share/velora one; empty when none exists.
QString notifySoundFile(const QString &dataDir);

}  // namespace velora::widgets
