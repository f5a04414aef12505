// A top-level window of another process, for the checks that look for other processes' windows:
//   window_host.exe CLASS TITLE [hidden]
// CLASS "#32770" makes a window of the platform's dialog box class (another updater's wizard);
// any other name is registered as a window class of this program (the running game). The window
// starts hidden when asked. The program runs until its window receives WM_CLOSE.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* className = argv[1];
  const char* title = argv[2];
  const bool hidden = argc > 3 && std::strcmp(argv[3], "hidden") == 0;
  HINSTANCE instance = GetModuleHandleA(nullptr);

  LPCSTR windowClass = MAKEINTATOM(0x8002);
  if (std::strcmp(className, "#32770") != 0) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassA(&wc)) return 3;
    windowClass = className;
  }
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | (hidden ? 0 : WS_VISIBLE);
  HWND window = CreateWindowExA(0, windowClass, title, style, 40, 40, 240, 120, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 4;

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_CLOSE) break;  // posted by the test: the window's end
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DestroyWindow(window);
  return 0;
}
