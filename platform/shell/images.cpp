// The image-file loader and file icons (see aygshell.h). Icons are drawn
// here, one small picture per kind of entry, into 32-bit DIB sections with
// premultiplied alpha; an icon handle is such a bitmap, known to this file.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/wstring.h"
#include "shell/aygshell.h"

namespace {

// Pictures decoded lately, so that a file shown again (the same picture in
// the next article, a page opened a second time) is not decoded again. The
// file is read every time and its bytes compared with those of the entry:
// a file changed in any way (even rewritten at once with the same size) is
// decoded anew. The pictures held are bounded by count and bytes.
class DecodedPictures {
 public:
  std::shared_ptr<const qk::gdi::DecodedImage> Load(LPCWSTR path) {
    const std::string host = qk::HostPath(path);
    std::vector<uint8_t> bytes;
    if (!ReadAll(host, &bytes)) return nullptr;
    {
      std::lock_guard<std::mutex> hold(m_lock);
      for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->path != host) continue;
        if (it->bytes == bytes) {
          m_entries.splice(m_entries.begin(), m_entries, it);  // most recent first
          return it->image;
        }
        Drop(it);
        break;
      }
    }
    auto image = std::make_shared<qk::gdi::DecodedImage>();
    if (!qk::gdi::DecodeImage(bytes.data(), bytes.size(), image.get())) return nullptr;
    const size_t cost = image->bgra.size() + bytes.size();
    if (cost <= kMaxBytes / 4) {
      std::lock_guard<std::mutex> hold(m_lock);
      for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->path == host) {
          Drop(it);
          break;
        }
      m_bytes += cost;
      m_entries.push_front(Entry{host, std::move(bytes), image});
      while (m_entries.size() > kMaxEntries || m_bytes > kMaxBytes) Drop(std::prev(m_entries.end()));
    }
    return image;
  }

 private:
  static constexpr size_t kMaxEntries = 48;
  static constexpr size_t kMaxBytes = 24u << 20;
  struct Entry {
    std::string path;
    std::vector<uint8_t> bytes;  // the file as it was decoded
    std::shared_ptr<const qk::gdi::DecodedImage> image;
  };
  static bool ReadAll(const std::string& host, std::vector<uint8_t>* out) {
    std::ifstream in(host, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
  }
  void Drop(std::list<Entry>::iterator it) {
    m_bytes -= it->image->bgra.size() + it->bytes.size();
    m_entries.erase(it);
  }
  std::mutex m_lock;
  std::list<Entry> m_entries;
  size_t m_bytes = 0;
};

DecodedPictures& Pictures() {
  static DecodedPictures* pictures = new DecodedPictures;  // lives to the end of the process
  return *pictures;
}

}  // namespace

HBITMAP SHLoadImageFile(LPCWSTR path) {
  if (!path || !*path) return nullptr;
  auto image = Pictures().Load(path);
  return image ? qk::gdi::CreateBitmapFromImage(*image) : nullptr;
}

namespace {

enum Kind { kFolder = 0, kPage, kPicture, kFeedList, kFile };

std::mutex g_lock;
std::set<HICON>& Icons() {
  static std::set<HICON> icons;
  return icons;
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

Kind KindOf(const std::u16string& name, bool folder) {
  if (folder) return kFolder;
  std::u16string lower = Lower(name);
  size_t dot = lower.find_last_of(u'.');
  std::u16string ext = dot == std::u16string::npos ? u"" : lower.substr(dot);
  if (ext == u".opml" || ext == u".xml" || ext == u".rss" || ext == u".atom") return kFeedList;
  if (ext == u".png" || ext == u".jpg" || ext == u".jpeg" || ext == u".gif" || ext == u".bmp" || ext == u".ico" ||
      ext == u".img")
    return kPicture;
  if (ext == u".htm" || ext == u".html" || ext == u".txt") return kPage;
  return kFile;
}

const char16_t* TypeName(Kind kind) {
  switch (kind) {
    case kFolder: return u"Folder";
    case kPage: return u"Document";
    case kPicture: return u"Picture";
    case kFeedList: return u"Channel List";
    default: return u"File";
  }
}

// Draws an icon of n x n: each pixel is asked of the shape in units of a
// 16-unit square, with 4 x 4 samples per pixel for smooth edges.
HBITMAP DrawIcon(Kind kind, int n) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = n;
  bi.bmiHeader.biHeight = -n;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bm) return nullptr;
  auto* px = static_cast<uint32_t*>(bits);
  // Colour at a point of the 16-unit square (0 = transparent), ARGB.
  auto shape = [kind](double x, double y) -> uint32_t {
    switch (kind) {
      case kFolder:
        if (x >= 1 && x < 7 && y >= 2.5 && y < 4.5) return 0xFFE0A82Eu;        // tab
        if (x >= 1 && x < 15 && y >= 4 && y < 13.5) {
          if (y < 5) return 0xFFC98E1Cu;                                        // back edge
          return (x < 1.8 || x >= 14.2 || y >= 12.7) ? 0xFFB07A18u : 0xFFF2C14Eu;
        }
        return 0;
      case kPicture:
        if (x >= 1.5 && x < 14.5 && y >= 2.5 && y < 13.5) {
          if (x < 2.3 || x >= 13.7 || y < 3.3 || y >= 12.7) return 0xFF50606Eu;  // frame
          if (y > 10.5 - (x < 8 ? (x - 2) * 0.8 : (14 - x) * 0.6)) return 0xFF3E9A4Cu;  // hills
          if ((x - 10.5) * (x - 10.5) + (y - 6) * (y - 6) < 2.2) return 0xFFF4C430u;  // sun
          return 0xFF8CC8F0u;                                                      // sky
        }
        return 0;
      case kFeedList:
        if (x >= 2 && x < 14 && y >= 2 && y < 14) {
          double dx = x - 4.5, dy = y - 11.5, r = std::sqrt(dx * dx + dy * dy);
          if (r < 1.3) return 0xFFFFFFFFu;
          if ((r > 3.6 && r < 5.0) || (r > 6.8 && r < 8.2)) return dx >= -0.5 && dy <= 0.5 ? 0xFFFFFFFFu : 0xFFF08A24u;
          return 0xFFF08A24u;
        }
        return 0;
      case kPage:
      case kFile:
      default: {
        if (x < 3 || x >= 13 || y < 1.5 || y >= 14.5) return 0;
        if (x + (1.5 - y) > 9.5 + 0.0 && y < 5.5) {           // the folded corner
          if (x - y > 7.5) return 0;
          return 0xFFB8C0C8u;
        }
        if (x < 3.6 || x >= 12.4 || y < 2.1 || y >= 13.9) return 0xFF7A8490u;  // outline
        if (kind == kPage && x >= 4.5 && x < 11 && (static_cast<int>(y * 2) % 3 == 0) && y > 5 && y < 13)
          return 0xFF5A7AA8u;  // lines of text
        return 0xFFFFFFFFu;
      }
    }
  };
  for (int yy = 0; yy < n; ++yy)
    for (int xx = 0; xx < n; ++xx) {
      double a = 0, r = 0, g = 0, b = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          uint32_t c = shape((xx + (sx + 0.5) / 4) * 16.0 / n, (yy + (sy + 0.5) / 4) * 16.0 / n);
          double ca = (c >> 24) / 255.0;
          a += ca;
          r += ca * ((c >> 16) & 0xFF);
          g += ca * ((c >> 8) & 0xFF);
          b += ca * (c & 0xFF);
        }
      a /= 16;
      r /= 16;
      g /= 16;
      b /= 16;  // premultiplied
      px[yy * n + xx] = (static_cast<uint32_t>(a * 255 + 0.5) << 24) | (static_cast<uint32_t>(r + 0.5) << 16) |
                        (static_cast<uint32_t>(g + 0.5) << 8) | static_cast<uint32_t>(b + 0.5);
    }
  return bm;
}

}  // namespace

DWORD_PTR SHGetFileInfo(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size, UINT flags) {
  if (!path || (info && size < sizeof(SHFILEINFOW))) return 0;
  bool folder;
  if (flags & SHGFI_USEFILEATTRIBUTES) {
    folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  } else {
    DWORD found = GetFileAttributesW(path);
    if (found == INVALID_FILE_ATTRIBUTES) return 0;
    folder = (found & FILE_ATTRIBUTE_DIRECTORY) != 0;
    attributes = found;
  }
  std::u16string full = path;
  while (full.size() > 1 && (full.back() == u'\\' || full.back() == u'/')) full.pop_back();
  size_t slash = full.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? full : full.substr(slash + 1);
  Kind kind = KindOf(name, folder);
  if (!info) return 1;
  *info = SHFILEINFOW{};
  info->iIcon = kind;
  if (flags & SHGFI_ATTRIBUTES) info->dwAttributes = attributes;
  if (flags & SHGFI_DISPLAYNAME) {
    size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
    std::copy(name.begin(), name.begin() + n, info->szDisplayName);
  }
  if (flags & SHGFI_TYPENAME) {
    std::u16string type = TypeName(kind);
    std::copy(type.begin(), type.end(), info->szTypeName);
  }
  if (flags & SHGFI_ICON) {
    int n = ((flags & SHGFI_SMALLICON) ? 16 : 32) * qk::gdi::ScreenDpi() / 96;
    HBITMAP bm = DrawIcon(kind, std::max(8, n));
    if (!bm) return 0;
    HICON icon = reinterpret_cast<HICON>(bm);
    std::lock_guard<std::mutex> g(g_lock);
    Icons().insert(icon);
    info->hIcon = icon;
  }
  return 1;
}

namespace qk::shell {

HBITMAP IconBitmap(HICON icon) {
  std::lock_guard<std::mutex> g(g_lock);
  return Icons().count(icon) ? reinterpret_cast<HBITMAP>(icon) : nullptr;
}

HBITMAP IconMask(HICON icon) {
  HBITMAP pixels = IconBitmap(icon);
  DIBSECTION ds{};
  if (!pixels || !GetObjectW(pixels, sizeof ds, &ds) || !ds.dsBm.bmBits) return nullptr;
  int w = ds.dsBm.bmWidth, h = ds.dsBm.bmHeight;
  int stride = ((w + 15) / 16) * 2;
  std::vector<uint8_t> bits(static_cast<size_t>(stride) * h, 0);
  const auto* px = static_cast<const uint32_t*>(ds.dsBm.bmBits);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((px[y * w + x] >> 24) < 128) bits[static_cast<size_t>(y) * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return CreateBitmap(w, h, 1, 1, bits.data());
}

BOOL DestroyShellIcon(HICON icon) {
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (!Icons().erase(icon)) return FALSE;
  }
  return DeleteObject(reinterpret_cast<HBITMAP>(icon));
}

}  // namespace qk::shell
