// Small checks of what a screen shows: a window's text, and the light
// pixels of a part of a picture.
#pragma once

#include <algorithm>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "user/user.h"

namespace qtest {

// The window's text, in UTF-8.
inline std::string Text(HWND window) {
  WCHAR text[512] = {0};
  GetWindowTextW(window, text, 512);
  return qk::ToUtf8(text);
}

// Light pixels (every channel above 200) in a part of a picture: the text
// and icons of a row, a menu or an input panel; the bare page gradient
// beneath the rows has none.
inline int Light(const qk::gdi::DecodedImage& p, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, p.height); ++y)
    for (int x = std::max(left, 0); x < std::min(right, p.width); ++x) {
      const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      if (px[0] > 200 && px[1] > 200 && px[2] > 200) ++n;
    }
  return n;
}

}  // namespace qtest
