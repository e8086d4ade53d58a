// The main window's buttons by keyboard and what a screen reader is told about them.
#include "ui/accessible_text.h"
#include "ui/button_keys.h"
#include <gtest/gtest.h>

TEST(ButtonKeys, TabWalksTheEnabledButtonsBothWaysAndWraps) {
  // Offline: SETTINGS, RETRY, PLAY and EXIT work, NEW ACCOUNT does not.
  const bool offline[kButtonCount] = {true, false, true, true, true};
  EXPECT_EQ(NextFocus(kNoFocus, offline, false), 0);
  EXPECT_EQ(NextFocus(0, offline, false), 2);
  EXPECT_EQ(NextFocus(4, offline, false), 0);
  EXPECT_EQ(NextFocus(kNoFocus, offline, true), 4);
  EXPECT_EQ(NextFocus(2, offline, true), 0);
  EXPECT_EQ(NextFocus(0, offline, true), 4);
  // A focus left on a button that stopped working moves on from where it was.
  EXPECT_EQ(NextFocus(1, offline, false), 2);
  const bool onlyExit[kButtonCount] = {false, false, false, false, true};
  EXPECT_EQ(NextFocus(4, onlyExit, false), 4);
  const bool none[kButtonCount] = {};
  EXPECT_EQ(NextFocus(2, none, false), kNoFocus);
}

TEST(ButtonKeys, MnemonicsAreLettersOfTheirLabelsAndNeverCollide) {
  const char* labels[] = {"SETTINGS", "NEW ACCOUNT", "RETRY", "PLAY", "EXIT", "INSTALL", "PAUSE", "RESUME"};
  std::string letters;
  for (const char* label : labels) {
    int index = MnemonicIndex(label);
    ASSERT_GE(index, 0) << label;
    char letter = label[index];
    EXPECT_TRUE(IsMnemonic(label, letter)) << label;
    EXPECT_TRUE(IsMnemonic(label, static_cast<char>(letter - 'A' + 'a'))) << label;
    // PAUSE and RESUME take one place and share one letter; no other two share one.
    if (std::string(label) != "RESUME") {
      EXPECT_EQ(letters.find(letter), std::string::npos) << label;
      letters += letter;
    }
  }
  EXPECT_EQ(MnemonicIndex("OTHER"), -1);
  EXPECT_FALSE(IsMnemonic("PLAY", 'L'));
  EXPECT_EQ(KeyboardShortcutText("NEW ACCOUNT"), "Alt+N");
  EXPECT_EQ(KeyboardShortcutText("OTHER"), "");
}

TEST(AccessibleText, ProgressIsReadInPercentAndAnnouncedInSteps) {
  EXPECT_EQ(ProgressValueText(0), "0%");
  EXPECT_EQ(ProgressValueText(0.456), "45%");
  EXPECT_EQ(ProgressValueText(1.7), "100%");
  EXPECT_EQ(ProgressValueText(-1), "0%");
  EXPECT_EQ(ProgressStep(0.04), ProgressStep(0.01));
  EXPECT_NE(ProgressStep(0.05), ProgressStep(0.049));
  EXPECT_EQ(NotesText({"Version 2", "", "- fixed"}), "Version 2\n\n- fixed");
  EXPECT_EQ(NotesHeading(""), "What's new");
  EXPECT_EQ(NotesHeading("Winter Gate"), "What's new  -  Winter Gate");
}
