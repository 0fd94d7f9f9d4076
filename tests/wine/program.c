/* SPDX-License-Identifier: MIT */
/* A window titled by its command line; "hidden" creates it without showing it. */
#include <wchar.h>
#include <windows.h>

static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command, int show) {
  (void)previous;
  (void)show;
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"VrkTestWindow";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"VrkTestWindow", command, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                0, 0, instance, 0);
  if (wcscmp(command, L"hidden") != 0) ShowWindow(window, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, 0, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
