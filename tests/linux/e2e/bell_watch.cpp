// Prints one line "bell" for every bell rung on the X display, so that the
// end-to-end tests can count the program's beeps. Runs until killed.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <cstdio>

int main(void) {
  int opcode, event_base, error_base, major = XkbMajorVersion, minor = XkbMinorVersion;
  Display* display = XkbOpenDisplay(NULL, &event_base, &error_base, &major, &minor, NULL);
  if (!display) {
    fprintf(stderr, "bell_watch: cannot open the display\n");
    return 1;
  }
  (void)opcode;
  XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == event_base) {
      auto* xkb = reinterpret_cast<XkbEvent*>(&event);
      if (xkb->any.xkb_type == XkbBellNotify) {
        printf("bell\n");
        fflush(stdout);
      }
    }
  }
}
