// A window's pixels as the X server shows them (kept apart from the tests:
// Xlib's macros clash with the test headers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qtest {

struct WindowPixels {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top first
  uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// The pixels of the window (its X id, in decimal) on the display (":N");
// empty when the display or the window cannot be read.
WindowPixels GrabWindow(const std::string& display, const std::string& window);

}  // namespace qtest
