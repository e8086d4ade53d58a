// The settings window's lists and the values a save writes.
#include "gameconfig/settings_choices.h"
#include "gameconfig/startcfg.h"
#include <gtest/gtest.h>

namespace {
std::vector<std::string> Labels(const std::vector<DisplayMode>& modes) {
  std::vector<std::string> labels;
  for (const DisplayMode& mode : modes) labels.push_back(ModeLabel(mode));
  return labels;
}

const GraphicsRow& Row(int value) {
  for (const GraphicsRow& row : kGraphicsRows) {
    if (row.value == value) return row;
  }
  static GraphicsRow none{"", 0, -1, {}};
  return none;
}
}  // namespace

TEST(SettingsModes, FilteredSortedAndEachSizeOnce) {
  std::vector<ReportedMode> reported = {
      {1920, 1080, 32}, {1024, 768, 32}, {800, 600, 32}, {1920, 1080, 32},  // a second refresh rate
      {1280, 1024, 16}, {640, 480, 32},  {799, 600, 32}, {800, 599, 32},   {1024, 768, 24}};
  EXPECT_EQ(Labels(BuildModeList(reported, 0, 0)),
            (std::vector<std::string>{"800 x 600", "1024 x 768", "1920 x 1080"}));
}

TEST(SettingsModes, SameWidthSortsByHeight) {
  std::vector<ReportedMode> reported = {{1280, 1024, 32}, {1280, 720, 32}, {1280, 800, 32}};
  EXPECT_EQ(Labels(BuildModeList(reported, 0, 0)),
            (std::vector<std::string>{"1280 x 720", "1280 x 800", "1280 x 1024"}));
}

TEST(SettingsModes, SavedSizeIsOfferedInSortedPlaceAndFound) {
  std::vector<ReportedMode> reported = {{1920, 1080, 32}, {1024, 768, 32}};
  std::vector<DisplayMode> modes = BuildModeList(reported, 1366, 768);
  EXPECT_EQ(Labels(modes), (std::vector<std::string>{"1024 x 768", "1366 x 768", "1920 x 1080"}));
  EXPECT_EQ(ModeIndex(modes, 1366, 768), 1);
  EXPECT_EQ(ModeIndex(modes, 1366, 769), -1);
}

TEST(SettingsModes, SavedSizeBelowTheFilterIsStillOfferedButNotANonPositiveOne) {
  EXPECT_EQ(Labels(BuildModeList({}, 640, 480)), (std::vector<std::string>{"640 x 480"}));
  EXPECT_TRUE(BuildModeList({}, 0, 768).empty());
  EXPECT_TRUE(BuildModeList({}, 1024, -768).empty());
  EXPECT_EQ(BuildModeList({{1024, 768, 32}}, 1024, 768).size(), 1u);
}

TEST(SettingsGraphics, RowsSetTheValuesTheirLabelsName) {
  EXPECT_EQ(Row(kCfgAntiAliasing).id, 405);
  EXPECT_EQ(Row(kCfgFiltering).id, 406);
  EXPECT_EQ(Row(kCfgVsync).id, 407);
  EXPECT_STREQ(Row(kCfgVsync).choices[4], "Cap 144 FPS");
  EXPECT_STREQ(Row(kCfgAntiAliasing).choices[3], "8x");
  EXPECT_STREQ(Row(kCfgFiltering).choices[4], "16x (recommended)");
}

TEST(SettingsGraphics, DefaultsNameTheRecommendedChoices) {
  for (const GraphicsRow& row : kGraphicsRows) {
    int count = static_cast<int>(row.choices.size());
    int position = ChoiceSelection("-1", count, kCfgDefaults[row.value]);
    ASSERT_GE(position, 0);
    ASSERT_LT(position, count);
    EXPECT_NE(std::string(row.choices[position]).find("recommended"), std::string::npos) << row.label;
  }
}

TEST(SettingsGraphics, OutOfRangeValueSelectsTheDefault) {
  EXPECT_EQ(ChoiceSelection("9", 6, "1"), 1);   // vsync beyond six choices
  EXPECT_EQ(ChoiceSelection("-1", 4, "2"), 2);  // anti-aliasing below zero
  EXPECT_EQ(ChoiceSelection("6", 6, "1"), 1);
  EXPECT_EQ(ChoiceSelection("abc", 6, "1"), 0);  // no digits read as 0, a valid choice
}

TEST(SettingsGraphics, InRangeValueIsReadLikeAnInteger) {
  EXPECT_EQ(ChoiceSelection("5", 6, "1"), 5);
  EXPECT_EQ(ChoiceSelection("  3", 4, "2"), 3);
  EXPECT_EQ(ChoiceSelection("+2x", 4, "0"), 2);
}

TEST(SettingsSave, ChosenSizeAndFullscreenSetPlainValues) {
  std::vector<DisplayMode> modes = {{1024, 768}, {1920, 1080}};
  std::string plain[5] = {"0", "7", "1024", "768", "16"};
  ApplyScreenChoice(plain, modes, 1, true);
  EXPECT_EQ(plain[0], "1");
  EXPECT_EQ(plain[1], "7");
  EXPECT_EQ(plain[2], "1920");
  EXPECT_EQ(plain[3], "1080");
  EXPECT_EQ(plain[4], "32");
  EXPECT_STREQ(ScreenModeWord(plain[0]), "fullscreen");
}

TEST(SettingsSave, NoValidSelectionKeepsTheSizeAsRead) {
  std::vector<DisplayMode> modes = {{1024, 768}};
  for (int selection : {-1, 1, 5}) {
    std::string plain[5] = {"1", "1", "1366", "768", "32"};
    ApplyScreenChoice(plain, modes, selection, false);
    EXPECT_EQ(plain[2], "1366");
    EXPECT_EQ(plain[3], "768");
    EXPECT_EQ(plain[0], "0");
    EXPECT_STREQ(ScreenModeWord(plain[0]), "windowed");
  }
}
