// What the settings window offers and how its choices become file values, without a window:
// the list of screen sizes built from the display's modes, the three graphics lists, the rule
// for a stored value outside a list, and the plain coinit.tmp values a save writes.
#pragma once
#include "core/base.h"

struct DisplayMode {
  int width;
  int height;
};

inline bool operator==(const DisplayMode& a, const DisplayMode& b) {
  return a.width == b.width && a.height == b.height;
}

// A mode as the display reports it.
struct ReportedMode {
  int width;
  int height;
  int bitsPerPixel;
};

// The sizes offered: modes of at least 800 x 600 and 32 bits, each size once, ascending by
// width then height; the saved size (when both are positive) is always among them.
std::vector<DisplayMode> BuildModeList(const std::vector<ReportedMode>& reported, int savedWidth,
                                       int savedHeight);

// The position of the size in the list, or -1.
int ModeIndex(const std::vector<DisplayMode>& modes, int width, int height);

// "%d x %d".
std::string ModeLabel(const DisplayMode& mode);

// One graphics list: label, control id, which startcfg.aut value it sets, its choices (list
// position = value written).
struct GraphicsRow {
  const char* label;
  int id;
  int value;
  std::vector<const char*> choices;
};
extern const GraphicsRow kGraphicsRows[3];

// The list position for a stored value: its integer when it names a choice, else the position
// its default names.
int ChoiceSelection(const std::string& stored, int choiceCount, const char* defaultValue);

// The plain coinit.tmp values after a save: the chosen size when the selection is a position
// in modes (else the size as read), the full-screen flag "1" or "0", colour depth "32".
void ApplyScreenChoice(std::string plain[5], const std::vector<DisplayMode>& modes, int selection,
                       bool fullscreen);

// "fullscreen" or "windowed", from plain value 1.
const char* ScreenModeWord(const std::string& fullscreenFlag);
