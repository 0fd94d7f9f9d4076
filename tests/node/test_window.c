/* SPDX-License-Identifier: MIT */
/* Opens one mapped X11 window with the given WM_CLASS and keeps it until its
 * standard input closes: the Node.js test's stand-in for a host application. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <xcb/xcb.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: test_window CLASS\n");
    return 2;
  }
  xcb_connection_t* c = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(c)) return 1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t w = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 100, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, NULL);
  /* WM_CLASS is "instance\0class\0". */
  size_t n = strlen(argv[1]);
  char* value = malloc(2 * n + 2);
  memcpy(value, argv[1], n + 1);
  memcpy(value + n + 1, argv[1], n + 1);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      (uint32_t)(2 * n + 2), value);
  free(value);
  xcb_map_window(c, w);
  /* A round trip, so the window is mapped before we say so. */
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
  printf("ready\n");
  fflush(stdout);
  char buf[64];
  while (read(0, buf, sizeof buf) > 0) {
  }
  /* Gone before we exit, so the next window list cannot still show it. */
  xcb_destroy_window(c, w);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
  xcb_disconnect(c);
  return 0;
}
