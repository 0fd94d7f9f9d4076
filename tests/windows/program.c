/* SPDX-License-Identifier: MIT */
/* One window, shown until the program is ended. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
  ShowWindow(CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 9, 9, 99, 99, 0, 0, instance, 0), 1);
  for (MSG msg; GetMessageA(&msg, 0, 0, 0) > 0;) DispatchMessageA(&msg);
  return 0;
}
