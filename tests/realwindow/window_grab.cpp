// Reads a window's pixels with XGetImage.
#include "window_grab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qtest {

WindowPixels GrabWindow(const std::string& displayName, const std::string& windowId) {
  WindowPixels g;
  Display* display = XOpenDisplay(displayName.c_str());
  if (!display) return g;
  const Window window = static_cast<Window>(std::stoul(windowId));
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes)) {
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image) {
      // Each channel by its mask, scaled to 8 bits.
      const auto channel = [](unsigned long p, unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
          mask >>= 1;
          ++shift;
        }
        return mask ? static_cast<uint32_t>(((p >> shift) & mask) * 255 / mask) : 0u;
      };
      g.width = attributes.width;
      g.height = attributes.height;
      g.rgb.resize(static_cast<size_t>(g.width) * g.height);
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
          const unsigned long p = XGetPixel(image, x, y);
          g.rgb[static_cast<size_t>(y) * g.width + x] = (channel(p, image->red_mask) << 16) |
                                                         (channel(p, image->green_mask) << 8) |
                                                         channel(p, image->blue_mask);
        }
      XDestroyImage(image);
    }
  }
  XCloseDisplay(display);
  return g;
}

}  // namespace qtest
