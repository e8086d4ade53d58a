// The main window's push buttons by keyboard, as plain logic: the order Tab walks them in
// (left to right as painted), which one Tab or Shift+Tab moves the focus to, and each label's
// mnemonic letter (Alt plus the letter presses it). No Windows header.
#pragma once
#include "core/base.h"

// Positions in the Tab order: SETTINGS, NEW ACCOUNT, RETRY (or PAUSE, RESUME), PLAY, EXIT.
constexpr int kButtonCount = 5;
constexpr int kNoFocus = -1;

// The next enabled button after current (before it when backwards), wrapping around; from
// kNoFocus, Tab starts at the first and Shift+Tab at the last. kNoFocus when none is enabled.
int NextFocus(int current, const bool (&enabled)[kButtonCount], bool backwards);

// Where the label's mnemonic letter is (an index into label), or -1 for a label without one.
// The letters do not collide: S, N, R, U (PAUSE and RESUME), P, I (INSTALL), X.
int MnemonicIndex(const std::string& label);

// True when the typed character (any letter case) is the label's mnemonic.
bool IsMnemonic(const std::string& label, char typed);
