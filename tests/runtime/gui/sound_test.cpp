// Sounds: the real player never hangs or fails loudly (here there is no audio device), refuses what
// is not a complete wave, and the seam takes every play and stop.
#include "gui_test_util.h"
#include "runtime/sound.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace rt {
namespace {

void Put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

void Put16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

// A RIFF WAVE of PCM, one channel, 22050 samples per second, 16 bits, of the given sample count.
std::string Wave(std::uint32_t samples)
{
    std::string data(samples * 2, '\0');
    for (std::uint32_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::uint16_t>((i % 50) < 25 ? 8000 : -8000);
        data[2 * i] = static_cast<char>(v & 0xFF);
        data[2 * i + 1] = static_cast<char>(v >> 8);
    }
    std::string wave = "RIFF";
    Put32(wave, static_cast<std::uint32_t>(36 + data.size()));
    wave += "WAVEfmt ";
    Put32(wave, 16);
    Put16(wave, 1);
    Put16(wave, 1);
    Put32(wave, 22050);
    Put32(wave, 22050 * 2);
    Put16(wave, 2);
    Put16(wave, 16);
    wave += "data";
    Put32(wave, static_cast<std::uint32_t>(data.size()));
    return wave + data;
}

TEST(SoundTest, RealPlayerNeverHangsAndRefusesIncompleteWaves)
{
    const std::string tick = Wave(2205);
    const std::string alert = Wave(4410);
    QElapsedTimer timer;
    timer.start();
    PlaySoundData(tick, true);    // the result depends on an audio device; callers ignore it
    PlaySoundData(alert, false);  // a second sound while the first plays
    PlaySoundData(tick, true);
    test::Pump(100);
    StopSound();
    StopSound();
    test::Pump(50);
    EXPECT_LT(timer.elapsed(), 3000);

    EXPECT_FALSE(PlaySoundData("", false));
    EXPECT_FALSE(PlaySoundData("RIFF....WAVE", true));
    EXPECT_FALSE(PlaySoundData(tick.substr(0, tick.size() / 2), false));  // cut short
    std::string notWave = tick;
    notWave[8] = 'X';
    EXPECT_FALSE(PlaySoundData(notWave, false));
}

TEST(SoundTest, SeamTakesPlaysAndStops)
{
    struct Recorder : SoundPlayer {
        std::vector<std::pair<std::size_t, bool>> plays;
        int stops = 0;
        bool Play(std::string_view wave, bool loop) override
        {
            plays.emplace_back(wave.size(), loop);
            return true;
        }
        void StopAll() override { ++stops; }
    } recorder;
    SetSoundPlayer(&recorder);
    EXPECT_TRUE(PlaySoundData(Wave(10), true));
    EXPECT_TRUE(PlaySoundData(Wave(20), false));
    StopSound();
    SetSoundPlayer(nullptr);
    StopSound();
    ASSERT_EQ(recorder.plays.size(), 2u);
    EXPECT_EQ(recorder.plays[0], (std::pair<std::size_t, bool>{44 + 20, true}));
    EXPECT_EQ(recorder.plays[1], (std::pair<std::size_t, bool>{44 + 40, false}));
    EXPECT_EQ(recorder.stops, 1);
}

}  // namespace
}  // namespace rt
