// Writes BMP files of every layout the picture reader takes (1, 4, 8, 16, 24
// and 32 bits a pixel; info headers of 40, 52, 56, 108 and 124 bytes; colour
// masks; rows bottom-up or top-down) together with the picture each must
// decode to, worked out here from the pixel values written. Used by the
// codec tests and the picture fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "gdi/image_codec.h"

namespace bmptest {

struct BmpLayout {
  int width = 1;
  int height = 1;
  int bpp = 24;
  uint32_t headerSize = 40;
  bool bitfields = false;              // compression 3 with masks (16 and 32 bits)
  uint32_t masks[3] = {0, 0, 0};       // red, green, blue: contiguous runs of bits
  bool topDown = false;
  uint32_t coloursUsed = 0;            // palette entries (0: 1 << bpp)
  // Extra bytes between the palette (or masks) and the pixels.
  uint32_t gap = 0;
};

inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// The 8-bit value of a field under a contiguous mask, scaled to 0..255.
inline uint8_t Scaled(uint32_t value, uint32_t mask) {
  if (!mask) return 0;
  int low = 0;
  while (!(mask & (1u << low))) ++low;
  int width = 0;
  while (low + width < 32 && (mask & (1u << (low + width)))) ++width;
  const uint64_t top = (uint64_t(1) << width) - 1;
  return static_cast<uint8_t>(uint64_t((value & mask) >> low) * 255 / top);
}

// A BMP of the layout whose pixels are given by raw(x, y) (a palette index,
// the 16- or 32-bit word, or 0x00RRGGBB for 24 bits) and whose palette
// entry i is palette(i) (0x00RRGGBB); `expected` gets what it decodes to.
inline std::vector<uint8_t> WriteBmp(const BmpLayout& l, const std::function<uint32_t(int x, int y)>& raw,
                                     const std::function<uint32_t(int i)>& palette, qk::gdi::DecodedImage* expected) {
  const bool paletted = l.bpp <= 8;
  const uint32_t colours = paletted ? (l.coloursUsed ? l.coloursUsed : 1u << l.bpp) : 0;
  const size_t maskBytes = l.bitfields && l.headerSize == 40 ? 12 : 0;
  const size_t tablePos = 14 + l.headerSize + maskBytes;
  const size_t pixelPos = tablePos + 4 * size_t(colours) + l.gap;
  const size_t stride = ((size_t(l.width) * l.bpp + 31) / 32) * 4;
  std::vector<uint8_t> b(pixelPos + stride * l.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, static_cast<uint32_t>(pixelPos));
  Put32(b, 14, l.headerSize);
  Put32(b, 18, static_cast<uint32_t>(l.width));
  Put32(b, 22, static_cast<uint32_t>(l.topDown ? -l.height : l.height));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<uint16_t>(l.bpp));
  Put32(b, 30, l.bitfields ? 3 : 0);
  Put32(b, 46, l.coloursUsed);
  if (l.bitfields)
    for (int i = 0; i < 3; ++i) Put32(b, 54 + 4 * i, l.masks[i]);
  for (uint32_t i = 0; i < colours; ++i) Put32(b, tablePos + 4 * i, palette(static_cast<int>(i)) & 0xFFFFFF);
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (l.bpp == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (l.bitfields) std::memcpy(masks, l.masks, sizeof masks);
  expected->width = l.width;
  expected->height = l.height;
  expected->bgra.assign(size_t(l.width) * l.height * 4, 255);
  for (int y = 0; y < l.height; ++y) {
    uint8_t* row = &b[pixelPos + stride * size_t(l.topDown ? y : l.height - 1 - y)];
    for (int x = 0; x < l.width; ++x) {
      uint32_t v = raw(x, y);
      uint8_t* e = &expected->bgra[(size_t(y) * l.width + x) * 4];
      uint32_t rgb = 0;
      switch (l.bpp) {
        case 1: v &= 1; row[x / 8] |= uint8_t(v << (7 - (x & 7))); break;
        case 4: v &= 15; row[x / 2] |= uint8_t((x & 1) ? v : v << 4); break;
        case 8: v &= 255; row[x] = uint8_t(v); break;
        case 16: v &= 0xFFFF; Put16(b, size_t(row - b.data()) + 2 * x, uint16_t(v)); break;
        case 24:
          row[3 * x] = uint8_t(v);
          row[3 * x + 1] = uint8_t(v >> 8);
          row[3 * x + 2] = uint8_t(v >> 16);
          rgb = v & 0xFFFFFF;
          break;
        default: Put32(b, size_t(row - b.data()) + 4 * x, v); break;
      }
      if (paletted) rgb = palette(static_cast<int>(v < colours ? v : 0)) & 0xFFFFFF;
      if (l.bpp == 16 || l.bpp == 32) rgb = (uint32_t(Scaled(v, masks[0])) << 16) | (Scaled(v, masks[1]) << 8) | Scaled(v, masks[2]);
      e[0] = uint8_t(rgb);
      e[1] = uint8_t(rgb >> 8);
      e[2] = uint8_t(rgb >> 16);
    }
  }
  return b;
}

}  // namespace bmptest
