// Keyboard walk and mnemonics of the main window's buttons; see button_keys.h.
#include "ui/button_keys.h"
#include <cstring>

namespace {
struct Mnemonic {
  const char* label;
  char letter;
};
const Mnemonic kMnemonics[] = {{"SETTINGS", 'S'}, {"NEW ACCOUNT", 'N'}, {"RETRY", 'R'}, {"PAUSE", 'U'},
                               {"RESUME", 'U'},   {"PLAY", 'P'},        {"INSTALL", 'I'}, {"EXIT", 'X'}};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

int NextFocus(int current, const bool (&enabled)[kButtonCount], bool backwards) {
  int step = backwards ? kButtonCount - 1 : 1;
  int at = current;
  if (at < 0 || at >= kButtonCount) at = backwards ? 0 : kButtonCount - 1;
  for (int tried = 0; tried < kButtonCount; tried++) {
    at = (at + step) % kButtonCount;
    if (enabled[at]) return at;
  }
  return kNoFocus;
}

int MnemonicIndex(const std::string& label) {
  for (const Mnemonic& mnemonic : kMnemonics) {
    if (label == mnemonic.label) return static_cast<int>(label.find(mnemonic.letter));
  }
  return -1;
}

bool IsMnemonic(const std::string& label, char typed) {
  int index = MnemonicIndex(label);
  return index >= 0 && Upper(typed) == label[static_cast<size_t>(index)];
}
