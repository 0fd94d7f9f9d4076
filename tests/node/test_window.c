/* SPDX-License-Identifier: MIT */
/* One mapped X11 window with the WM_CLASS given, kept until standard input
 * closes: the guide examples' stand-in for a host application. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

static void RoundTrip(xcb_connection_t* c) {
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
}

int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(NULL, NULL);
  if (argc != 2 || xcb_connection_has_error(c)) return 2;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t w = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 100, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, NULL);
  char value[512] = {0}; /* "instance\0class\0", both the name given */
  size_t n = strnlen(argv[1], sizeof value / 2 - 1);
  memcpy(value, argv[1], n);
  memcpy(value + n + 1, argv[1], n);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      (uint32_t)(2 * n + 2), value);
  xcb_map_window(c, w);
  RoundTrip(c); /* mapped before it says so */
  puts("ready");
  for (fflush(stdout); read(0, value, sizeof value) > 0;) {
  }
  /* Gone before it exits, so that the next window list cannot show it. */
  xcb_destroy_window(c, w);
  RoundTrip(c);
  xcb_disconnect(c);
  return 0;
}
