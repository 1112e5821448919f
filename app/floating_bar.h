#pragma once
// The floating progress bar, kept on top and colour-keyed.

#include <cstdint>

#include "runtime/window.h"

void OnShowBarToggled();
void OnResetBarClicked();
void OnFloatingBarCreated();
void OnFloatingBarMoved();
void OnFloatingBarTimerTick();
void UpdateFloatingBar();
void MakeColourKeyed(std::uintptr_t handle, rt::Colour colour);
