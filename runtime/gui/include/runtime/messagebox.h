#pragma once
// Modal message boxes without owner window. Handlers keep running nested inside an open box.

#include <functional>
#include <string>
#include <string_view>

namespace rt {

constexpr int kMbOk = 0x00;
constexpr int kMbYesNo = 0x04;
constexpr int kMbIconError = 0x10;
constexpr int kMbIconQuestion = 0x20;
constexpr int kMbIconInformation = 0x40;

constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 5;
constexpr int kAnswerNo = 6;

// Shows the box (flags 0x10, 0x24, 0x40 give icon and buttons) and returns the answer: 5 for Yes,
// 6 for No, 1 for OK.
int ShowMessageBox(std::string_view message, int flags, std::string_view caption);

// Test seam: when set, the seam answers instead of a box (it may run handlers, as a user's nested
// events would); an empty function restores real boxes.
using MessageBoxHook = std::function<int(const std::string& message, int flags, const std::string& caption)>;
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace rt
