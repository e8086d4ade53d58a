// Settings window choices; see settings_choices.h.
#include "gameconfig/settings_choices.h"
#include "core/text.h"
#include <algorithm>

namespace {
bool ModeLess(const DisplayMode& a, const DisplayMode& b) {
  return a.width != b.width ? a.width < b.width : a.height < b.height;
}

void AddOnce(std::vector<DisplayMode>& modes, DisplayMode mode) {
  if (ModeIndex(modes, mode.width, mode.height) < 0) modes.push_back(mode);
}
}  // namespace

const GraphicsRow kGraphicsRows[3] = {
    {"Anti-aliasing (smooth edges)", 405, 13, {"Off", "2x", "4x (recommended)", "8x"}},
    {"Texture filtering (sharp at a distance)", 406, 14, {"Off", "2x", "4x", "8x", "16x (recommended)"}},
    {"VSync / frame cap",
     407,
     12,
     {"Off (no cap)", "On - monitor rate (recommended)", "Cap 60 FPS", "Cap 120 FPS", "Cap 144 FPS",
      "Cap 240 FPS"}},
};

std::vector<DisplayMode> BuildModeList(const std::vector<ReportedMode>& reported, int savedWidth,
                                       int savedHeight) {
  std::vector<DisplayMode> modes;
  for (const ReportedMode& mode : reported) {
    if (mode.width >= 800 && mode.height >= 600 && mode.bitsPerPixel >= 32) {
      AddOnce(modes, {mode.width, mode.height});
    }
  }
  if (savedWidth > 0 && savedHeight > 0) AddOnce(modes, {savedWidth, savedHeight});
  std::sort(modes.begin(), modes.end(), ModeLess);
  return modes;
}

int ModeIndex(const std::vector<DisplayMode>& modes, int width, int height) {
  for (size_t i = 0; i < modes.size(); i++) {
    if (modes[i].width == width && modes[i].height == height) return static_cast<int>(i);
  }
  return -1;
}

std::string ModeLabel(const DisplayMode& mode) { return Fmt("%d x %d", mode.width, mode.height); }

int ChoiceSelection(const std::string& stored, int choiceCount, const char* defaultValue) {
  int position = ParseIntLikeAtoi(stored.c_str());
  if (position >= 0 && position < choiceCount) return position;
  return ParseIntLikeAtoi(defaultValue);
}

void ApplyScreenChoice(std::string plain[5], const std::vector<DisplayMode>& modes, int selection,
                       bool fullscreen) {
  if (selection >= 0 && selection < static_cast<int>(modes.size())) {
    plain[2] = Fmt("%d", modes[selection].width);
    plain[3] = Fmt("%d", modes[selection].height);
  }
  plain[0] = fullscreen ? "1" : "0";
  plain[4] = "32";
}

const char* ScreenModeWord(const std::string& fullscreenFlag) {
  return fullscreenFlag == "1" ? "fullscreen" : "windowed";
}
