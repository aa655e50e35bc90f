// Asks an X window to close as a desktop's window manager does when the
// window's close button is pressed: a WM_PROTOCOLS client message carrying
// WM_DELETE_WINDOW, sent to a window that takes part in that protocol.
//   close_window <window id>      (DISPLAY names the X server)
// Exit code 0 when the request was sent, 2 when the window does not take
// the protocol, 1 on other failures.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  const Window window = std::strtoul(argv[1], nullptr, 0);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  Atom* list = nullptr;
  int count = 0;
  bool takes = false;
  if (XGetWMProtocols(display, window, &list, &count)) {
    for (int i = 0; i < count; ++i) takes = takes || list[i] == deleteWindow;
    XFree(list);
  }
  if (!takes) {
    XCloseDisplay(display);
    return 2;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
