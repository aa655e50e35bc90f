// The imaging factory: decodes PNG (and the other supported formats) from
// memory into images whose pixels can be locked as 32-bit ARGB. Objects are
// reference counted; Release frees them at zero.
#pragma once

#include "kernel/types.h"

typedef DWORD PixelFormat;  // NOLINT
#define PixelFormat32bppARGB 0x0026200Au
#define ImageLockModeRead 0x0001
#define ImageLockModeWrite 0x0002

enum BufferDisposalFlag { BufferDisposalFlagNone = 0, BufferDisposalFlagGlobalFree, BufferDisposalFlagCoTaskMemFree,
                          BufferDisposalFlagUnmapView };
enum InterpolationHint { InterpolationHintDefault = 0, InterpolationHintNearestNeighbor, InterpolationHintBilinear,
                         InterpolationHintAveraging, InterpolationHintBicubic };

struct ImageInfo {
  DWORD RawDataFormat[4];
  ::PixelFormat PixelFormat;
  UINT Width;
  UINT Height;
  UINT TileWidth;
  UINT TileHeight;
  double Xdpi;
  double Ydpi;
  UINT Flags;
};

struct BitmapData {
  UINT Width;
  UINT Height;
  LONG Stride;
  ::PixelFormat PixelFormat;
  void* Scan0;
  UINT_PTR Reserved;
};

class IImage {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT GetImageInfo(ImageInfo* info) = 0;

 protected:
  virtual ~IImage() = default;
};

class IBitmapImage : public IImage {
 public:
  // Pixels as 4-byte blue, green, red, alpha, rows top first.
  virtual HRESULT LockBits(const RECT* rect, UINT flags, PixelFormat format, BitmapData* data) = 0;
  virtual HRESULT UnlockBits(const BitmapData* data) = 0;
};

class IImagingFactory {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT CreateImageFromBuffer(const void* buffer, UINT size, BufferDisposalFlag disposal,
                                        IImage** image) = 0;
  // width and height 0 keep the image's size.
  virtual HRESULT CreateBitmapFromImage(IImage* image, UINT width, UINT height, PixelFormat format,
                                        InterpolationHint hint, IBitmapImage** bitmap) = 0;

 protected:
  virtual ~IImagingFactory() = default;
};

namespace qk::gdi {
// Creates a factory (the platform gets it through COM).
HRESULT CreateImagingFactory(IImagingFactory** factory);
}  // namespace qk::gdi
