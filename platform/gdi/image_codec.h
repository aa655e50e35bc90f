// Decoding of image files (PNG, JPEG, GIF, BMP) into 32-bit pictures, and
// PNG encoding for screen pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gdi/gdi.h"

namespace qk::gdi {

// A decoded picture: rows top first, 4 bytes per pixel in the order blue,
// green, red, alpha; alpha is straight (not premultiplied).
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;
};

// Each returns false, leaving out empty, for data that is not a complete
// picture of its format (truncated, corrupt, too large).
bool DecodePng(const uint8_t* data, size_t size, DecodedImage* out);
bool DecodeJpeg(const uint8_t* data, size_t size, DecodedImage* out);
bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* out);  // first frame
bool DecodeBmp(const uint8_t* data, size_t size, DecodedImage* out);
// Chooses the decoder by the data's signature.
bool DecodeImage(const uint8_t* data, size_t size, DecodedImage* out);
// Reads a device file and decodes it.
bool DecodeImageFile(LPCWSTR devicePath, DecodedImage* out);

// A 32-bit top-down DIB section holding the picture composed over the given
// background colour (the platform's image-file loader returns such a bitmap).
HBITMAP CreateBitmapFromImage(const DecodedImage& image, COLORREF background = RGB(255, 255, 255));

// PNG of 8-bit RGB rows (pixels 0x00RRGGBB, rows top first).
bool EncodePng(int width, int height, const std::vector<uint32_t>& rgb, std::vector<uint8_t>* out);
// The same, with each row's pixels (0x00RRGGBB, width of them) given by
// row(y) when that row is written: a surface is encoded in place. Large
// pictures are compressed in bands on several threads, so row may be called
// from several threads at once (each row once); the pointer it returns must
// stay valid until that thread's next call.
bool EncodePngRows(int width, int height, const std::function<const uint32_t*(int y)>& row, std::vector<uint8_t>* out);

// Pictures larger than this many pixels are not encoded.
constexpr int64_t kMaxImagePixels = 1 << 26;

// Pictures claiming more pixels than this, or more than this many on a side,
// are refused by the decoders before anything is allocated for them: a few
// bytes from any server can claim a huge picture, whose pixels would be made
// before its data is read. No logo, icon or article picture comes near (the
// screen is 480 x 800).
constexpr int64_t kMaxDecodedPixels = int64_t(1) << 24;
constexpr int64_t kMaxDecodedSide = 16384;

}  // namespace qk::gdi
