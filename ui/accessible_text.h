// What the main window's accessible object says, as plain text logic: the children it has,
// the value of the progress bar, the notes as one readable text, and when a progress change
// is worth announcing. No Windows header.
#pragma once
#include "core/base.h"

// Child ids of the main window's accessible object (0 is the window itself).
enum AccessibleChild : long {
  kChildSelf = 0,
  kChildFirstButton = 1,  // 1..5: SETTINGS, NEW ACCOUNT, RETRY (PAUSE, RESUME), PLAY, EXIT
  kChildLastButton = 5,
  kChildHeadline = 6,
  kChildDetail = 7,
  kChildProgress = 8,
  kChildNotes = 9,
};
constexpr long kChildCount = 9;

// "45%": the progress as a screen reader reads a progress bar (0..1, clamped).
std::string ProgressValueText(double progress);

// Progress in steps of kProgressStepPercent: a change of step is announced, smaller ones not.
constexpr int kProgressStepPercent = 5;
int ProgressStep(double progress);

// The "What's new" heading as painted, then the note lines, one a line; empty lines kept.
std::string NotesHeading(const std::string& updateName);
std::string NotesText(const std::vector<std::string>& notes);

// "Alt+S" for a label with a mnemonic; empty without one.
std::string KeyboardShortcutText(const std::string& label);
