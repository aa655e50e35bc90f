// The imaging factory over the image decoders.
#include "gdi/imaging.h"

#include <atomic>
#include <cstring>

#include "gdi/image_codec.h"

namespace qk::gdi {

namespace {

class Image final : public IBitmapImage {
 public:
  explicit Image(DecodedImage img) : img_(std::move(img)) {}
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT GetImageInfo(ImageInfo* info) override {
    if (!info) return E_POINTER;
    std::memset(info, 0, sizeof *info);
    info->PixelFormat = PixelFormat32bppARGB;
    info->Width = static_cast<UINT>(img_.width);
    info->Height = static_cast<UINT>(img_.height);
    info->Xdpi = info->Ydpi = 96;
    return S_OK;
  }
  HRESULT LockBits(const RECT* rect, UINT, PixelFormat format, BitmapData* data) override {
    if (!data) return E_POINTER;
    if (format != PixelFormat32bppARGB) return E_INVALIDARG;
    RECT r = rect ? *rect : RECT{0, 0, img_.width, img_.height};
    if (r.left < 0 || r.top < 0 || r.right > img_.width || r.bottom > img_.height || r.left >= r.right ||
        r.top >= r.bottom)
      return E_INVALIDARG;
    data->Width = static_cast<UINT>(r.right - r.left);
    data->Height = static_cast<UINT>(r.bottom - r.top);
    data->Stride = img_.width * 4;
    data->PixelFormat = format;
    data->Scan0 = &img_.bgra[(static_cast<size_t>(r.top) * img_.width + r.left) * 4];
    data->Reserved = 0;
    return S_OK;
  }
  HRESULT UnlockBits(const BitmapData* data) override { return data ? S_OK : E_POINTER; }
  const DecodedImage& Picture() const { return img_; }

 private:
  ~Image() override = default;
  DecodedImage img_;
  std::atomic<ULONG> refs_{1};
};

class Factory final : public IImagingFactory {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT CreateImageFromBuffer(const void* buffer, UINT size, BufferDisposalFlag, IImage** image) override {
    if (!image) return E_POINTER;
    *image = nullptr;
    DecodedImage img;
    if (!buffer || !DecodeImage(static_cast<const uint8_t*>(buffer), size, &img)) return E_FAIL;
    *image = new Image(std::move(img));
    return S_OK;
  }
  HRESULT CreateBitmapFromImage(IImage* image, UINT width, UINT height, PixelFormat format, InterpolationHint,
                                IBitmapImage** bitmap) override {
    if (!bitmap) return E_POINTER;
    *bitmap = nullptr;
    auto* src = dynamic_cast<Image*>(image);
    if (!src || format != PixelFormat32bppARGB) return E_INVALIDARG;
    const DecodedImage& pic = src->Picture();
    UINT w = width ? width : static_cast<UINT>(pic.width), h = height ? height : static_cast<UINT>(pic.height);
    DecodedImage out;
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.bgra.resize(static_cast<size_t>(w) * h * 4);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) {
        size_t sx = static_cast<size_t>(x) * pic.width / w, sy = static_cast<size_t>(y) * pic.height / h;
        std::memcpy(&out.bgra[(static_cast<size_t>(y) * w + x) * 4], &pic.bgra[(sy * pic.width + sx) * 4], 4);
      }
    *bitmap = new Image(std::move(out));
    return S_OK;
  }

 private:
  ~Factory() override = default;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT CreateImagingFactory(IImagingFactory** factory) {
  if (!factory) return E_POINTER;
  *factory = new Factory();
  return S_OK;
}

}  // namespace qk::gdi
