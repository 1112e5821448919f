#pragma once
// The tomato timer: idle and running states, start, abandon, countdown and natural end.

#include <string>

namespace app {
// The embedded sounds (complete RIFF WAVE files).
const std::string& TickSound();
const std::string& AlertSound();
}  // namespace app

void OnStartButtonClicked();
void ToggleTomato();
void OnRazezuZivurTick();
void UpdateCountdown();
void FinishTomato(bool forced = false);
void ResetTimerState();
void OnTickSoundToggled();
