// The "What's new" panel. Each note line is measured with its font in a box 346 units wide
// (so long lines wrap and are as tall as they draw); the portable layout turns the summed
// height into the panel's size, its scroll range and its thumb. Only the lines that reach into
// the visible band are drawn, clipped to it, so a long list costs little to repaint. The fonts
// live as long as the program and the measured heights as long as the notes and the scale
// (hinting makes a height depend on the scale), so a repaint measures nothing.
#include "ui/notes_panel_win.h"
#include "core/globals_win.h"
#include "core/status_win.h"
#include "ui/paint_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

DesignRect g_notesBox = {0, 0, 0, 0};
DesignRect g_notesTrack = {0, 0, 0, 0};
int g_notesMax = 0;
int g_notesScroll = 0;
int g_notesThumbH = 0;

namespace {
constexpr ARGB kNoteText = 0xFFDCDCE1;
constexpr ARGB kScrollTrack = 0x8C283C50;
constexpr ARGB kThumbFill = 0xE6BEE1FF;
constexpr REAL kLineX = 36;
constexpr REAL kLineWidth = 346;
constexpr REAL kEmptyLineHeight = 8;

struct NoteLine {
  std::wstring text;
  bool heading;
  REAL height;
};

struct NoteFonts {
  GpFont* note;
  GpFont* heading;
  GpStringFormat* plain;
};

REAL MeasureLine(GpGraphics* graphics, const NoteLine& line, const NoteFonts& fonts) {
  if (line.text.empty()) return kEmptyLineHeight;
  RectF box(0, 0, kLineWidth, 2000);
  RectF bounds(0, 0, 0, 0);
  GpFont* font = line.heading ? fonts.heading : fonts.note;
  GdipMeasureString(graphics, line.text.c_str(), static_cast<INT>(line.text.size()), font, &box, fonts.plain,
                    &bounds, nullptr, nullptr);
  return bounds.Height + (line.heading ? 2 : 0);
}

const NoteFonts& Fonts() {
  static NoteFonts fonts = [] {
    NoteFonts made{CreateTahoma(13, FontStyleRegular), CreateTahoma(14, FontStyleBold), nullptr};
    GdipCreateStringFormat(0, LANG_NEUTRAL, &made.plain);
    return made;
  }();
  return fonts;
}

struct MeasuredNotes {
  std::vector<std::string> notes;
  float scale = 0;
  std::vector<NoteLine> lines;
  REAL total = 0;
};

const MeasuredNotes& Measured(GpGraphics* graphics, const std::vector<std::string>& notes) {
  static MeasuredNotes measured;
  if (measured.scale == g_scale && measured.notes == notes) return measured;
  measured.notes = notes;
  measured.scale = g_scale;
  measured.lines.clear();
  measured.total = 0;
  for (const std::string& note : notes) {
    NoteLine line{Widen(note), IsNoteHeadingLine(note), 0};
    line.height = MeasureLine(graphics, line, Fonts());
    measured.total += line.height;
    measured.lines.push_back(line);
  }
  return measured;
}

void Publish(const NotesGeometry& layout) {
  g_notesMax = layout.notesMax;
  g_notesScroll = ClampScroll(g_notesScroll, g_notesMax);
  g_notesBox = layout.box;
  g_notesTrack = layout.track;
  if (g_notesMax > 0) g_notesThumbH = static_cast<int>(layout.thumbHeight);
}

void DrawHeading(GpGraphics* graphics, const NotesCopy& notes, const NotesPanelStyle& style) {
  std::string heading = "What's new";
  if (!notes.updateName.empty()) heading += "  -  " + notes.updateName;
  DrawTextIn(graphics, Widen(heading, 1023), style.headline, RectF(36, 34, 356, 24), style.singleLine,
             style.statusColour);
}

void DrawLines(GpGraphics* graphics, const std::vector<NoteLine>& lines, const NoteFonts& fonts, REAL view,
               ARGB headingColour) {
  GdipSetClipRect(graphics, 25, kNotesTextTop, 378, view, CombineModeReplace);
  REAL y = REAL(kNotesTextTop - g_notesScroll);
  for (const NoteLine& line : lines) {
    bool visible = y + line.height > kNotesTextTop && y < view + kNotesTextTop;
    if (!line.text.empty() && visible) {
      GpFont* font = line.heading ? fonts.heading : fonts.note;
      DrawTextIn(graphics, line.text, font, RectF(kLineX, y, kLineWidth, line.height + 2), fonts.plain,
                 line.heading ? headingColour : kNoteText);
    }
    y += line.height;
  }
  GdipResetClip(graphics);
}

void DrawScrollBar(GpGraphics* graphics, const NotesGeometry& layout) {
  if (g_notesMax <= 0) return;
  REAL thumbY = ThumbY(g_notesScroll, layout.viewHeight, layout.thumbHeight, g_notesMax);
  FillBox(graphics, kScrollTrack, RectF(392, kNotesTextTop, 6, layout.viewHeight));
  FillBox(graphics, kThumbFill, RectF(392, thumbY, 6, layout.thumbHeight));
}
}  // namespace

NotesCopy CopyNotes() {
  EnterCriticalSection(&g_lock);
  NotesCopy copy{g_updateName, g_version, g_notes};
  LeaveCriticalSection(&g_lock);
  return copy;
}

void PaintNotesPanel(GpGraphics* graphics, const NotesCopy& notes, const NotesPanelStyle& style) {
  g_notesBox.left = g_notesBox.right = 0;
  g_notesTrack.left = g_notesTrack.right = 0;
  g_notesMax = 0;
  if (notes.notes.empty() && notes.updateName.empty()) return;

  const MeasuredNotes& measured = Measured(graphics, notes.notes);
  NotesGeometry layout = NotesLayout(measured.total);
  Publish(layout);

  FillBox(graphics, kPanelFill, RectF(24, 24, 380, layout.panelHeight));
  GdipDrawRectangle(graphics, style.outline, 24, 24, 380, layout.panelHeight);
  DrawHeading(graphics, notes, style);
  DrawLines(graphics, measured.lines, Fonts(), layout.viewHeight, style.statusColour);
  DrawScrollBar(graphics, layout);
}
