// Writes JPEG files of one colour through the JPEG library, for the codec
// tests and the picture fuzz target to read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h wants FILE and size_t first.
#include <jpeglib.h>

namespace jpegtest {

// A JPEG file of w x h pixels all of the colour (R, G, B), or all of the
// grey colour[0] when grey, at the quality given.
inline std::vector<uint8_t> SolidJpeg(int w, int h, const uint8_t colour[3], bool grey, int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int x = 0; x < w; ++x) std::memcpy(&row[static_cast<size_t>(x) * (grey ? 1 : 3)], colour, grey ? 1 : 3);
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return bytes;
}

}  // namespace jpegtest
