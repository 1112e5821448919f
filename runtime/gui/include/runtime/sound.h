#pragma once
// Sounds: complete RIFF WAVE files held in memory. Starting a sound stops none that plays.

#include <string_view>

namespace rt {

// Plays the wave once or in a loop; false when it cannot be played (callers ignore the result).
bool PlaySoundData(std::string_view wave, bool loop);
// Stops every sound that plays.
void StopSound();

// Test seam: the player behind PlaySoundData and StopSound; nullptr restores the real player.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual bool Play(std::string_view wave, bool loop) = 0;
    virtual void StopAll() = 0;
};
void SetSoundPlayer(SoundPlayer* player);

}  // namespace rt
