// What a window manager does to a window, for the end-to-end run under Xvfb,
// which has none: ask the program to close its window (WM_DELETE_WINDOW, as a
// click on the title bar's close button does), minimise it (unmap, WM_STATE
// Iconic) and bring it back (WM_STATE Normal, map).
//
//   app_wm_standin close|minimise|restore WINDOW_ID
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void setWmState(Display* display, Window window, long state) {
  const Atom wmState = XInternAtom(display, "WM_STATE", False);
  long data[2] = {state, None};
  XChangeProperty(display, window, wmState, wmState, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(data), 2);
}

void askToClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s close|minimise|restore WINDOW_ID\n", argv[0]);
    return 2;
  }
  const std::string what = argv[1];
  const Window window = std::strtoul(argv[2], nullptr, 0);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "%s: no display\n", argv[0]);
    return 1;
  }
  if (what == "close") {
    askToClose(display, window);
  } else if (what == "minimise") {
    XUnmapWindow(display, window);
    setWmState(display, window, IconicState);
  } else if (what == "restore") {
    setWmState(display, window, NormalState);
    XMapWindow(display, window);
  } else {
    XCloseDisplay(display);
    return 2;
  }
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}
