// Texts of the main window's accessible object; see accessible_text.h.
#include "ui/accessible_text.h"
#include "ui/button_keys.h"

namespace {
int Percent(double progress) {
  if (!(progress > 0)) return 0;
  if (progress >= 1) return 100;
  return static_cast<int>(progress * 100);
}
}  // namespace

std::string ProgressValueText(double progress) { return std::to_string(Percent(progress)) + "%"; }

int ProgressStep(double progress) { return Percent(progress) / kProgressStepPercent; }

std::string NotesHeading(const std::string& updateName) {
  return updateName.empty() ? "What's new" : "What's new  -  " + updateName;
}

std::string NotesText(const std::vector<std::string>& notes) {
  std::string text;
  for (size_t i = 0; i < notes.size(); i++) {
    if (i) text += "\n";
    text += notes[i];
  }
  return text;
}

std::string KeyboardShortcutText(const std::string& label) {
  int index = MnemonicIndex(label);
  if (index < 0) return std::string();
  return std::string("Alt+") + label[static_cast<size_t>(index)];
}
