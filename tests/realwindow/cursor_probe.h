// A client of the test's X server that reads the cursor the server shows
// (through the XFIXES extension) and hears of each change of it. Apart from
// the tests, whose test framework does not mix with Xlib's macros.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qtest {

// The cursor the X server shows, as its image.
struct CursorImage {
  int width = 0, height = 0, xhot = 0, yhot = 0;
  unsigned long serial = 0;
  std::vector<unsigned long> pixels;
  bool SameLook(const CursorImage& o) const {
    return width == o.width && height == o.height && xhot == o.xhot && yhot == o.yhot && pixels == o.pixels;
  }
};

class CursorProbe {
 public:
  ~CursorProbe() { Close(); }
  // Connects to the display and listens for changes of the shown cursor;
  // false when it cannot (or the server has no XFIXES).
  bool Open(const std::string& display);
  void Close();
  CursorImage Shown();
  // The desktop's wait cursor (the cursor font's watch, as the desktop's
  // cursor theme gives it): shown over a small window of the probe's own.
  CursorImage Watch();
  // Moves the pointer into an X window (its id in decimal) at (x, y).
  void PointInto(const std::string& window, int x, int y);
  // The serials of the cursors shown since the last call, in order,
  // waiting at most timeoutMs until done() holds for them.
  std::vector<unsigned long> Changes(const std::function<bool(const std::vector<unsigned long>&)>& done,
                                     int timeoutMs);

 private:
  void* display_ = nullptr;
  int event_ = 0;
};

}  // namespace qtest
