#include "cursor_probe.h"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>

namespace qtest {

namespace {
Display* D(void* display) { return static_cast<Display*>(display); }
}  // namespace

bool CursorProbe::Open(const std::string& name) {
  Display* display = XOpenDisplay(name.c_str());
  if (!display) return false;
  display_ = display;
  int error = 0;
  if (!XFixesQueryExtension(display, &event_, &error)) return false;
  int major = 2, minor = 0;
  XFixesQueryVersion(display, &major, &minor);
  XFixesSelectCursorInput(display, DefaultRootWindow(display), XFixesDisplayCursorNotifyMask);
  XSync(display, False);
  return true;
}

void CursorProbe::Close() {
  if (display_) XCloseDisplay(D(display_));
  display_ = nullptr;
}

CursorImage CursorProbe::Shown() {
  CursorImage image;
  if (!display_) return image;
  XSync(D(display_), False);
  if (XFixesCursorImage* c = XFixesGetCursorImage(D(display_))) {
    image.width = c->width;
    image.height = c->height;
    image.xhot = c->xhot;
    image.yhot = c->yhot;
    image.serial = c->cursor_serial;
    image.pixels.assign(c->pixels, c->pixels + size_t(c->width) * c->height);
    XFree(c);
  }
  return image;
}

CursorImage CursorProbe::Watch() {
  if (!display_) return CursorImage();
  Display* display = D(display_);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.cursor = XCreateFontCursor(display, XC_watch);
  Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 40, 40, 0, CopyFromParent, InputOnly,
                                CopyFromParent, CWOverrideRedirect | CWCursor, &attributes);
  XMapRaised(display, window);
  XWarpPointer(display, None, window, 0, 0, 0, 0, 20, 20);
  CursorImage image = Shown();
  XDestroyWindow(display, window);
  XFreeCursor(display, attributes.cursor);
  XSync(display, False);
  return image;
}

void CursorProbe::PointInto(const std::string& window, int x, int y) {
  if (!display_) return;
  XWarpPointer(D(display_), None, std::strtoul(window.c_str(), nullptr, 10), 0, 0, 0, 0, x, y);
  XSync(D(display_), False);
}

std::vector<unsigned long> CursorProbe::Changes(const std::function<bool(const std::vector<unsigned long>&)>& done,
                                                int timeoutMs) {
  std::vector<unsigned long> serials;
  if (!display_) return serials;
  Display* display = D(display_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    XSync(display, False);
    while (XPending(display)) {
      XEvent e;
      XNextEvent(display, &e);
      if (e.type == event_ + XFixesCursorNotify)
        serials.push_back(reinterpret_cast<XFixesCursorNotifyEvent*>(&e)->cursor_serial);
    }
    if (done(serials) || std::chrono::steady_clock::now() >= deadline) return serials;
    // Sleeps until the server sends something, a tenth of a second at most.
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, 100);
  }
}

}  // namespace qtest
