/* SPDX-License-Identifier: MIT */
/* One window, shown until the program is ended. */
#include <windows.h>

int main(void) {
  ShowWindow(CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 9, 9, 99, 99, 0, 0, 0, 0), 1);
  for (MSG msg; GetMessageA(&msg, 0, 0, 0) > 0;) DispatchMessageA(&msg);
}
