// Bitmap resources.
#include "quillet/ui/bitmap_resource.h"

#include <cstring>
#include <vector>

#include "kernel/resource.h"
#include "quillet/ui/dib.h"

HBITMAP LoadBitmapResource(HMODULE module, UINT id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_BITMAP);
  if (!found) return nullptr;
  const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  if (!data || size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.biSize < 40 || header.biWidth <= 0 || header.biHeight == 0 || header.biPlanes != 1) return nullptr;
  const int bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  if (header.biCompression != BI_RGB) return nullptr;
  size_t colours = header.biClrUsed ? header.biClrUsed : static_cast<size_t>(NumColorEntries(bits));
  if (colours > 256) return nullptr;
  const size_t height = static_cast<size_t>(header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight);
  const size_t stride = ((static_cast<size_t>(header.biWidth) * bits + 31) / 32) * 4;
  const size_t pixelsAt = header.biSize + colours * 4;
  if (height > 0x8000 || stride > 0x20000 || pixelsAt > size || stride * height > size - pixelsAt) return nullptr;
  std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  std::memcpy(info.data(), &header, sizeof header);
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biSize = 40;
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biClrUsed = static_cast<DWORD>(colours);
  std::memcpy(info.data() + 40, data + header.biSize, colours * 4);
  void* pixels = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &pixels,
                                    nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!bitmap || !pixels) {
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  std::memcpy(pixels, data + pixelsAt, stride * height);
  return bitmap;
}
