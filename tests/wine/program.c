/* SPDX-License-Identifier: MIT */
/* One window, shown until the program is ended. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command, int show) {
  (void)previous;
  (void)command;
  (void)show;
  HWND window = CreateWindowExW(0, L"STATIC", L"Test", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, 0, 0,
                                instance, 0);
  ShowWindow(window, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, 0, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
