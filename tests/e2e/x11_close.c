/*
 * Asks every top-level window whose name is exactly the given text to close, the way a window
 * manager's close button does (a WM_DELETE_WINDOW message), for the end-to-end tests under Xvfb,
 * where no window manager runs. Prints how many windows it asked; exit status 1 when none.
 *   x11_close "<window name>"
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int nameIs(Display* d, Window w, const char* name) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = NULL;
  int same = 0;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
      data) {
    same = strlen(name) == count && memcmp(data, name, count) == 0;
    XFree(data);
  }
  return same;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: x11_close NAME\n");
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) return 2;
  Window root = DefaultRootWindow(d), parent, *children = NULL;
  unsigned int n = 0;
  int asked = 0;
  XQueryTree(d, root, &root, &parent, &children, &n);
  for (unsigned int i = 0; i < n; ++i) {
    if (!nameIs(d, children[i], argv[1])) continue;
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = children[i];
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, children[i], False, NoEventMask, &e);
    ++asked;
  }
  if (children) XFree(children);
  XCloseDisplay(d);
  printf("%d\n", asked);
  return asked ? 0 : 1;
}
