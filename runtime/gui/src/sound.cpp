// Sounds over Qt Multimedia: each start gets its own effect, so a new sound never stops one that
// plays. Waves are handed to Qt through anonymous in-memory files, so nothing is left on disk.
#include "runtime/sound.h"

#include "internal.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <vector>

namespace rt {
namespace {

// True for a complete RIFF WAVE file: the header and a RIFF size that the data holds.
bool IsRiffWave(std::string_view wave)
{
    if (wave.size() < 44 || wave.compare(0, 4, "RIFF") != 0 || wave.compare(8, 4, "WAVE") != 0) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(wave.data());
    const std::uint64_t riffSize = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) |
                                   (static_cast<std::uint64_t>(bytes[7]) << 24);
    return riffSize + 8 <= wave.size();
}

// One anonymous in-memory file per distinct wave; Qt reads it through /proc/self/fd.
class WaveFile {
public:
    explicit WaveFile(std::string_view wave)
    {
        fd_ = ::memfd_create("tomato-wave", MFD_CLOEXEC);
        if (fd_ < 0) {
            return;
        }
        std::size_t done = 0;
        while (done < wave.size()) {
            const ssize_t written = ::write(fd_, wave.data() + done, wave.size() - done);
            if (written <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            done += static_cast<std::size_t>(written);
        }
    }
    ~WaveFile()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    bool Valid() const { return fd_ >= 0; }
    QUrl Url() const { return QUrl::fromLocalFile(QStringLiteral("/proc/self/fd/%1").arg(fd_)); }

private:
    int fd_ = -1;
};

class QtSoundPlayer final : public SoundPlayer {
public:
    bool Play(std::string_view wave, bool loop) override
    {
        if (QCoreApplication::instance() == nullptr || !IsRiffWave(wave)) {
            return false;
        }
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return false;  // no audio device: nothing to play on, and nothing to wait for
        }
        const WaveFile* file = FileFor(wave);
        if (file == nullptr) {
            return false;
        }
        auto* effect = new QSoundEffect(device);
        effect->setSource(file->Url());
        effect->setLoopCount(loop ? QSoundEffect::Infinite : 1);
        QObject::connect(effect, &QSoundEffect::playingChanged, effect, [this, effect] {
            if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready) {
                Forget(effect);
            }
        });
        QObject::connect(effect, &QSoundEffect::statusChanged, effect, [this, effect] {
            if (effect->status() == QSoundEffect::Error) {
                Forget(effect);
            }
        });
        effects_.push_back(effect);
        effect->play();
        return true;
    }

    void StopAll() override
    {
        std::vector<QSoundEffect*> effects;
        effects.swap(effects_);
        for (QSoundEffect* effect : effects) {
            effect->disconnect();
            effect->stop();
            effect->deleteLater();
        }
    }

    void Release()
    {
        StopAll();
        files_.clear();
    }

private:
    const WaveFile* FileFor(std::string_view wave)
    {
        auto it = files_.find(wave);
        if (it == files_.end()) {
            auto file = std::make_unique<WaveFile>(wave);
            if (!file->Valid()) {
                return nullptr;
            }
            it = files_.emplace(std::string(wave), std::move(file)).first;
        }
        return it->second.get();
    }

    void Forget(QSoundEffect* effect)
    {
        for (auto it = effects_.begin(); it != effects_.end(); ++it) {
            if (*it == effect) {
                effects_.erase(it);
                effect->disconnect();
                effect->deleteLater();
                return;
            }
        }
    }

    std::vector<QSoundEffect*> effects_;
    std::map<std::string, std::unique_ptr<WaveFile>, std::less<>> files_;  // keyed by the wave's bytes
};

QtSoundPlayer& RealPlayer()
{
    static auto* player = new QtSoundPlayer;
    return *player;
}

SoundPlayer*& InstalledPlayer()
{
    static SoundPlayer* player = nullptr;
    return player;
}

SoundPlayer& Player()
{
    SoundPlayer* player = InstalledPlayer();
    return player != nullptr ? *player : RealPlayer();
}

}  // namespace

bool PlaySoundData(std::string_view wave, bool loop) { return Player().Play(wave, loop); }

void StopSound() { Player().StopAll(); }

void SetSoundPlayer(SoundPlayer* player) { InstalledPlayer() = player; }

namespace detail {

void ShutdownSound() { RealPlayer().Release(); }

}  // namespace detail
}  // namespace rt
