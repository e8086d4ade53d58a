// The main window's accessible object; see accessible_win.h.
//
// One small object is made for every WM_GETOBJECT and handed over with LresultFromObject; it
// holds no state of its own and reads the window's globals on each call, so it can never show
// anything stale. Calls from another process arrive through COM on the window thread (its
// apartment is opened at the first request), so everything here runs where the window's
// state lives. The default action does not act inside the call: it posts kMsgPressButton, so a
// message box that the press opens (Offline) never holds the screen reader's call.
#include "ui/accessible_win.h"
#include "core/globals_win.h"
#include "core/status_win.h"
#include "core/wide_text_win.h"
#include "ui/accessible_text.h"
#include "ui/button_keys.h"
#include "ui/buttons_win.h"
#include "ui/main_window_win.h"
#include "ui/notes_panel_win.h"
#include <oleacc.h>

namespace {
bool g_apartmentOpened = false;

// What the last tick announced.
struct Announced {
  bool valid = false;
  Phase phase = Connecting;
  std::string status, detail;
  int progressStep = 0;
  double progress = 0;
  std::string notesHeading, notes;
  bool enabled[kButtonCount] = {};
  std::string labels[kButtonCount];
};
Announced g_announced;

BSTR Bstr(const std::string& text) {
  std::wstring wide = WideFromAnsi(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool IsButton(long child) { return child >= kChildFirstButton && child <= kChildLastButton; }
const Button& ButtonOf(long child) { return *g_tabOrder[child - kChildFirstButton]; }

// SETTINGS, NEW ACCOUNT and RETRY are painted only while they work.
bool Painted(const Button& button) { return button.enabled || &button == &g_play || &button == &g_exit; }

bool ChildOf(const VARIANT& id, long& child) {
  if (id.vt != VT_I4 || id.lVal < kChildSelf || id.lVal > kChildCount) return false;
  child = id.lVal;
  return true;
}

VARIANT ChildVariant(long child) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = child;
  return v;
}

// Design rectangle of a child (the whole window for the window itself).
RECT DesignBox(long child) {
  if (IsButton(child)) {
    const Button& b = ButtonOf(child);
    return RECT{b.left, b.top, b.right, b.bottom};
  }
  switch (child) {
    case kChildHeadline: return RECT{24, 452, 776, 476};
    case kChildDetail: return RECT{24, 480, 776, 498};
    case kChildProgress: return RECT{24, 502, 776, 516};
    case kChildNotes: return RECT{g_notesBox.left, g_notesBox.top, g_notesBox.right, g_notesBox.bottom};
    default: return RECT{0, 0, kDesignWidth, kDesignHeight};
  }
}

long ButtonChildAt(DesignPoint point) {
  for (int i = 0; i < kButtonCount; i++) {
    const Button& b = *g_tabOrder[i];
    if (Painted(b) && PointInRect(DesignRect{b.left, b.top, b.right, b.bottom}, point.x, point.y)) {
      return kChildFirstButton + i;
    }
  }
  return kChildSelf;
}

class MainAccessible final : public IAccessible {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: clients of this object use IAccessible's own methods.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    *parent = nullptr;
    if (!g_wnd) return S_FALSE;
    HRESULT made =
        CreateStdAccessibleObject(g_wnd, OBJID_WINDOW, __uuidof(IDispatch), reinterpret_cast<void**>(parent));
    return SUCCEEDED(made) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    *count = kChildCount;
    return S_OK;
  }
  // Every child is a simple element, named by its id.
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT id, IDispatch** child) override {
    *child = nullptr;
    long which = 0;
    return ChildOf(id, which) ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT id, BSTR* name) override {
    *name = nullptr;
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    *name = Bstr(NameOf(child));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT id, BSTR* value) override {
    *value = nullptr;
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    if (child == kChildProgress) {
      *value = Bstr(ProgressValueText(CopyStatus().progress));
    } else if (child == kChildNotes) {
      *value = Bstr(NotesText(CopyNotes().notes));
    } else {
      return S_FALSE;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT id, BSTR* text) override {
    *text = nullptr;
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    if (child != kChildSelf) return S_FALSE;
    StatusCopy status = CopyStatus();
    *text = Bstr(status.status + ". " + status.detail);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT id, VARIANT* role) override {
    VariantInit(role);
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = RoleOf(child);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT id, VARIANT* state) override {
    VariantInit(state);
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    state->vt = VT_I4;
    state->lVal = StateOf(child);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
    *help = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    *file = nullptr;
    *topic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT id, BSTR* shortcut) override {
    *shortcut = nullptr;
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    if (!IsButton(child)) return S_FALSE;
    *shortcut = Bstr(KeyboardShortcutText(ButtonOf(child).label));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    VariantInit(focus);
    if (!g_wnd || GetFocus() != g_wnd) return S_FALSE;
    *focus = ChildVariant(g_focus >= 0 && g_tabOrder[g_focus]->enabled ? kChildFirstButton + g_focus : kChildSelf);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    VariantInit(selection);
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT id, BSTR* action) override {
    *action = nullptr;
    long child = 0;
    if (!ChildOf(id, child)) return E_INVALIDARG;
    if (!IsButton(child)) return S_FALSE;
    *action = SysAllocString(L"Press");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* width, long* height, VARIANT id) override {
    long child = 0;
    if (!ChildOf(id, child) || !g_wnd) return E_INVALIDARG;
    RECT box = DesignBox(child);
    POINT corner = {static_cast<LONG>(box.left * g_scale), static_cast<LONG>(box.top * g_scale)};
    ClientToScreen(g_wnd, &corner);
    *x = corner.x;
    *y = corner.y;
    *width = static_cast<long>((box.right - box.left) * g_scale);
    *height = static_cast<long>((box.bottom - box.top) * g_scale);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    VariantInit(end);
    long from = 0;
    if (!ChildOf(start, from)) return E_INVALIDARG;
    long to = -1;
    if (direction == NAVDIR_FIRSTCHILD && from == kChildSelf) to = 1;
    if (direction == NAVDIR_LASTCHILD && from == kChildSelf) to = kChildCount;
    bool forward = direction == NAVDIR_NEXT || direction == NAVDIR_RIGHT;
    if (forward && from != kChildSelf && from < kChildCount) to = from + 1;
    if ((direction == NAVDIR_PREVIOUS || direction == NAVDIR_LEFT) && from > 1) to = from - 1;
    if (to < 0) return S_FALSE;
    *end = ChildVariant(to);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
    VariantInit(hit);
    if (!g_wnd) return S_FALSE;
    POINT point = {x, y};
    ScreenToClient(g_wnd, &point);
    RECT client = {};
    GetClientRect(g_wnd, &client);
    if (!PtInRect(&client, point)) return S_FALSE;
    *hit = ChildVariant(ButtonChildAt(ToDesign(point.x, point.y, g_scale)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT id) override {
    long child = 0;
    if (!ChildOf(id, child) || !IsButton(child) || !g_wnd) return E_INVALIDARG;
    const Button& button = ButtonOf(child);
    if (!button.enabled) return E_FAIL;
    PostMessageA(g_wnd, kMsgPressButton, static_cast<WPARAM>(child - kChildFirstButton), 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~MainAccessible() = default;

  static std::string NameOf(long child) {
    if (IsButton(child)) return ButtonOf(child).label;
    switch (child) {
      case kChildHeadline: return CopyStatus().status;
      case kChildDetail: return CopyStatus().detail;
      case kChildProgress: return "Progress";
      case kChildNotes: return NotesHeading(CopyNotes().updateName);
      default: return "Kelmorra";
    }
  }

  static long RoleOf(long child) {
    if (IsButton(child)) return ROLE_SYSTEM_PUSHBUTTON;
    switch (child) {
      case kChildHeadline:
      case kChildDetail: return ROLE_SYSTEM_STATICTEXT;
      case kChildProgress: return ROLE_SYSTEM_PROGRESSBAR;
      case kChildNotes: return ROLE_SYSTEM_TEXT;
      default: return ROLE_SYSTEM_CLIENT;
    }
  }

  static long StateOf(long child) {
    if (IsButton(child)) {
      const Button& button = ButtonOf(child);
      long state = 0;
      if (!button.enabled) state |= STATE_SYSTEM_UNAVAILABLE;
      if (!Painted(button)) state |= STATE_SYSTEM_INVISIBLE;
      if (button.enabled) state |= STATE_SYSTEM_FOCUSABLE;
      if (button.enabled && g_focus == child - kChildFirstButton) state |= STATE_SYSTEM_FOCUSED;
      if (button.pressed) state |= STATE_SYSTEM_PRESSED;
      return state;
    }
    if (child == kChildNotes) {
      NotesCopy notes = CopyNotes();
      bool shown = !notes.notes.empty() || !notes.updateName.empty();
      return STATE_SYSTEM_READONLY | (shown ? 0 : STATE_SYSTEM_INVISIBLE);
    }
    if (child != kChildSelf) return STATE_SYSTEM_READONLY;
    long state = STATE_SYSTEM_FOCUSABLE;
    if (g_wnd && GetFocus() == g_wnd) state |= STATE_SYSTEM_FOCUSED;
    return state;
  }

  LONG refs_ = 1;
};

void Notify(HWND window, DWORD event, long child) { NotifyWinEvent(event, window, OBJID_CLIENT, child); }
}  // namespace

LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
  if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) {
    return DefWindowProcA(window, WM_GETOBJECT, wParam, lParam);
  }
  if (!g_apartmentOpened) g_apartmentOpened = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  MainAccessible* object = new MainAccessible;
  LRESULT answer = LresultFromObject(__uuidof(IAccessible), wParam, object);
  object->Release();
  return answer;
}

void AnnounceChanges(HWND window) {
  StatusCopy status = CopyStatus();
  NotesCopy notes = CopyNotes();
  Announced now;
  now.valid = true;
  now.phase = status.phase;
  now.status = status.status;
  now.detail = status.detail;
  now.progress = status.progress;
  now.progressStep = ProgressStep(status.progress);
  now.notesHeading = NotesHeading(notes.updateName);
  now.notes = NotesText(notes.notes);
  for (int i = 0; i < kButtonCount; i++) {
    now.enabled[i] = g_tabOrder[i]->enabled;
    now.labels[i] = g_tabOrder[i]->label;
  }
  Announced& was = g_announced;
  if (!was.valid) {
    was = now;
    return;
  }
  bool phaseChanged = now.phase != was.phase;
  bool stepChanged = now.progressStep != was.progressStep;
  if (now.status != was.status) Notify(window, EVENT_OBJECT_NAMECHANGE, kChildHeadline);
  // A detail that only counts bytes is announced with the progress steps, not ten times a second.
  bool detailDue = phaseChanged || stepChanged || now.progress == was.progress;
  if (now.detail != was.detail && detailDue) Notify(window, EVENT_OBJECT_NAMECHANGE, kChildDetail);
  if (stepChanged) Notify(window, EVENT_OBJECT_VALUECHANGE, kChildProgress);
  if (now.notesHeading != was.notesHeading) Notify(window, EVENT_OBJECT_NAMECHANGE, kChildNotes);
  if (now.notes != was.notes) Notify(window, EVENT_OBJECT_VALUECHANGE, kChildNotes);
  for (int i = 0; i < kButtonCount; i++) {
    if (now.enabled[i] != was.enabled[i]) Notify(window, EVENT_OBJECT_STATECHANGE, kChildFirstButton + i);
    if (now.labels[i] != was.labels[i]) Notify(window, EVENT_OBJECT_NAMECHANGE, kChildFirstButton + i);
  }
  if (!detailDue && now.detail != was.detail) now.detail = was.detail;  // still owed
  was = now;
}

void AnnounceFocus(HWND window, int place) {
  Notify(window, EVENT_OBJECT_FOCUS, place >= 0 ? kChildFirstButton + place : kChildSelf);
}

void EndAccessibility() {
  if (g_apartmentOpened) CoUninitialize();
  g_apartmentOpened = false;
}
