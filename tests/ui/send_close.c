/* Asks an X11 window, found by its exact name, to close as a window manager's close box does:
 * a WM_DELETE_WINDOW message. Exit 0 when sent, 1 when no such window, 2 without a display. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>

static Window find(Display* d, Window w, const char* name) {
  char* wname = NULL;
  if (XFetchName(d, w, &wname) && wname) {
    int same = strcmp(wname, name) == 0;
    XFree(wname);
    if (same) return w;
  }
  Window root, parent, *children = NULL;
  unsigned int n = 0;
  Window found = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &n)) {
    for (unsigned int i = 0; i < n && !found; ++i) found = find(d, children[i], name);
    if (children) XFree(children);
  }
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Display* d = XOpenDisplay(NULL);
  if (!d) return 2;
  Window w = find(d, DefaultRootWindow(d), argv[1]);
  if (!w) return 1;
  XEvent e;
  memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XFlush(d);
  XCloseDisplay(d);
  return 0;
}
