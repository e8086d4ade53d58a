// Test helper of the e2e tests: what a screen reader learns of the launcher's main window
// through the accessibility API, from another process.
// Usage:
//   acc_client read            one line per object: "child N role=R state=0xS at=X,Y,W,H name=...
//                              value=..." (on the screen, in pixels)
//   acc_client press NAME      the default action of the child named NAME
//   acc_client events SECONDS  the window's accessibility events: "event 0xE child N"
//   acc_client controls TITLE  the text of every control of the window captioned TITLE (what a
//                              reader's standard objects name them by): "control ID text"
// Texts are UTF-8 with line breaks written as "\n". Exit code 0 on success.
#include <windows.h>
#include <oleacc.h>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
  if (!text) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(length > 0 ? length - 1 : 0, '\0');
  if (length > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
  std::string escaped;
  for (char c : out) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  return escaped;
}

VARIANT Child(long id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::string NameOf(IAccessible* object, long id) {
  BSTR name = nullptr;
  object->get_accName(Child(id), &name);
  std::string text = Utf8(name);
  SysFreeString(name);
  return text;
}

IAccessible* MainWindowObject(HWND& window) {
  window = FindWindowA("KMLauncherWnd", nullptr);
  if (!window) {
    fprintf(stderr, "no launcher window\n");
    return nullptr;
  }
  IAccessible* object = nullptr;
  HRESULT got = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                           reinterpret_cast<void**>(&object));
  if (FAILED(got) || !object) fprintf(stderr, "AccessibleObjectFromWindow failed: 0x%08lx\n", got);
  return object;
}

int Read(IAccessible* object) {
  long count = 0;
  if (FAILED(object->get_accChildCount(&count))) return 1;
  for (long id = 0; id <= count; id++) {
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    BSTR value = nullptr;
    object->get_accRole(Child(id), &role);
    object->get_accState(Child(id), &state);
    object->get_accValue(Child(id), &value);
    long x = 0, y = 0, width = 0, height = 0;
    object->accLocation(&x, &y, &width, &height, Child(id));
    printf("child %ld role=%ld state=0x%lx at=%ld,%ld,%ld,%ld name=%s value=%s\n", id, role.lVal, state.lVal, x, y,
           width, height, NameOf(object, id).c_str(), Utf8(value).c_str());
    SysFreeString(value);
  }
  return 0;
}

int Press(IAccessible* object, const char* wanted) {
  long count = 0;
  object->get_accChildCount(&count);
  for (long id = 1; id <= count; id++) {
    if (NameOf(object, id) != wanted) continue;
    HRESULT done = object->accDoDefaultAction(Child(id));
    printf("pressed %s: 0x%08lx\n", wanted, done);
    return SUCCEEDED(done) ? 0 : 1;
  }
  fprintf(stderr, "no child named %s\n", wanted);
  return 1;
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND, LONG objectId, LONG child, DWORD, DWORD) {
  if (objectId != OBJID_CLIENT) return;
  printf("event 0x%lx child %ld\n", event, child);
  fflush(stdout);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
  wchar_t text[512] = {};
  GetWindowTextW(control, text, 512);
  printf("control %d %s\n", GetDlgCtrlID(control), Utf8(text).c_str());
  return TRUE;
}

int Controls(const char* title) {
  HWND window = FindWindowA(nullptr, title);
  if (!window) return 1;
  EnumChildWindows(window, PrintControl, 0);
  return 0;
}

int Events(HWND window, int seconds) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, nullptr, OnEvent, process, 0,
                                       WINEVENT_OUTOFCONTEXT);
  if (!hook) return 1;
  printf("listening\n");
  fflush(stdout);
  DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  UnhookWinEvent(hook);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  HWND window = nullptr;
  int code = 1;
  if (!strcmp(argv[1], "controls") && argc > 2) {
    code = Controls(argv[2]);
  } else if (!strcmp(argv[1], "events") && argc > 2) {
    window = FindWindowA("KMLauncherWnd", nullptr);
    code = window ? Events(window, atoi(argv[2])) : 1;
  } else if (IAccessible* object = MainWindowObject(window)) {
    if (!strcmp(argv[1], "read")) code = Read(object);
    if (!strcmp(argv[1], "press") && argc > 2) code = Press(object, argv[2]);
    object->Release();
  }
  fflush(stdout);
  CoUninitialize();
  return code;
}
