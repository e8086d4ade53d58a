// The "What's new" panel of the main window: the manifest's release notes in a scrollable
// box at the top left, and the geometry it publishes for the window procedure's hit tests.
#pragma once
#include "core/base.h"
#include "ui/geometry.h"
#include <windows.h>
#include <gdiplus.h>

// The panel as last painted (UI thread only). g_notesBox and g_notesTrack have
// left = right = 0 when there is no panel or no scroll bar; g_notesMax is 0 when the text
// fits; g_notesScroll stays within 0..g_notesMax.
extern DesignRect g_notesBox;
extern DesignRect g_notesTrack;
extern int g_notesMax;
extern int g_notesScroll;
extern int g_notesThumbH;

// The manifest's announcements, copied under g_lock for one paint.
struct NotesCopy {
  std::string updateName;
  unsigned version;
  std::vector<std::string> notes;
};
NotesCopy CopyNotes();

// What the panel borrows from the rest of the paint.
struct NotesPanelStyle {
  Gdiplus::GpFont* headline;
  Gdiplus::GpStringFormat* singleLine;
  Gdiplus::GpPen* outline;
  Gdiplus::ARGB statusColour;  // heading and heading lines
};

// Lays out, draws and publishes the panel; with no notes and no update name there is none.
void PaintNotesPanel(Gdiplus::GpGraphics* graphics, const NotesCopy& notes, const NotesPanelStyle& style);
