// The device screen: configuration, surface, screen and window DCs, device
// capabilities, system colours and metrics.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>

#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/wstring.h"

namespace qk::gdi {

namespace {

std::mutex g_screenLock;
bool g_loaded = false;
ScreenConfig g_config;
std::shared_ptr<Bitmap> g_surface;
std::atomic<uint64_t> g_generation{0};
std::atomic<int> g_dpi{0};  // 0 until the configuration is loaded
WindowAreaProvider g_windowProvider;
WindowCoverProvider g_coverProvider;
COLORREF g_sysColours[32];
bool g_sysColoursSet[32] = {};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool ParseColour(const std::string& text, COLORREF* out) {
  std::string t = Trim(text);
  if (!t.empty() && t[0] == '#') t = t.substr(1);
  if (t.size() != 6) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(t.c_str(), &end, 16);
  if (!end || *end) return false;
  *out = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  return true;
}

void Apply(ScreenConfig& c, const std::string& key, const std::string& value) {
  std::string v = Trim(value);
  if (v.empty()) return;
  auto positive = [&](int* field, int maximum) {
    long n = std::strtol(v.c_str(), nullptr, 10);
    if (n > 0 && n <= maximum) *field = static_cast<int>(n);
  };
  if (key == "profile") {
    if (v == "keydevice" || v == "smartphone") c = KeyDeviceScreenConfig();
    else if (v == "touch" || v == "pocketpc") c = DefaultScreenConfig();
  } else if (key == "width") {
    positive(&c.width, 8192);
  } else if (key == "height") {
    positive(&c.height, 8192);
  } else if (key == "dpi") {
    positive(&c.dpi, 1200);
  } else if (key == "platform") {
    c.platformType = qk::FromUtf8(v);
  } else if (key == "highlight") {
    ParseColour(v, &c.highlight);
  }
}

std::shared_ptr<Bitmap> NewSurface(const ScreenConfig& c) {
  auto b = std::make_shared<Bitmap>();
  b->width = c.width;
  b->height = c.height;
  b->bpp = 32;
  b->stride = c.width * 4;
  // Made once per program and kept: its pages come with the first paint.
  if (!b->storage.AssignUntouched(static_cast<size_t>(b->stride) * c.height + 4))
    b->storage.Assign(static_cast<size_t>(b->stride) * c.height + 4);
  b->bits = b->storage.data();
  b->stock = true;
  return b;
}

// The configuration alone: a program that only asks for the screen's size
// or dots per inch (a hidden dialog, a headless task) never pays for the
// surface's megabytes.
void EnsureLoaded() {
  if (g_loaded) return;
  g_config = LoadScreenConfig();
  g_dpi = g_config.dpi;
  g_loaded = true;
}

}  // namespace

ScreenConfig DefaultScreenConfig() { return ScreenConfig(); }

ScreenConfig KeyDeviceScreenConfig() {
  ScreenConfig c;
  c.width = 240;
  c.height = 320;
  c.dpi = 96;
  c.platformType = u"smartphone";
  return c;
}

ScreenConfig LoadScreenConfig() {
  ScreenConfig c;
  std::ifstream in(qk::DeviceRoot() + "/DeviceProfile.txt");
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    Apply(c, Trim(line.substr(0, eq)), line.substr(eq + 1));
  }
  const std::pair<const char*, const char*> env[] = {
      {"QUILLET_SCREEN_PROFILE", "profile"}, {"QUILLET_SCREEN_WIDTH", "width"},
      {"QUILLET_SCREEN_HEIGHT", "height"},   {"QUILLET_SCREEN_DPI", "dpi"},
      {"QUILLET_PLATFORM_TYPE", "platform"}, {"QUILLET_HIGHLIGHT", "highlight"}};
  for (auto& [name, key] : env)
    if (const char* v = std::getenv(name)) Apply(c, key, v);
  return c;
}

ScreenConfig GetScreenConfig() {
  std::lock_guard<std::mutex> lock(g_screenLock);
  EnsureLoaded();
  return g_config;
}

void SetScreenConfig(const ScreenConfig& config) {
  std::lock_guard<std::mutex> lock(g_screenLock);
  g_config = config;
  g_surface = NewSurface(config);
  g_dpi = config.dpi;
  g_loaded = true;
  g_generation++;
}

void ResetScreenConfig() {
  std::lock_guard<std::mutex> lock(g_screenLock);
  g_loaded = false;
  g_surface.reset();
  g_dpi = 0;
  g_generation++;
}

int ScreenDpi() {
  int dpi = g_dpi.load();
  return dpi ? dpi : GetScreenConfig().dpi;
}

std::shared_ptr<Bitmap> ScreenSurface() {
  std::lock_guard<std::mutex> lock(g_screenLock);
  EnsureLoaded();
  // Made when first drawn on or read.
  if (!g_surface) g_surface = NewSurface(g_config);
  return g_surface;
}

uint64_t ScreenGeneration() { return g_generation.load(); }
void NoteScreenChanged() { g_generation++; }

void SetWindowDCProvider(WindowAreaProvider provider) {
  std::lock_guard<std::mutex> lock(g_screenLock);
  g_windowProvider = std::move(provider);
}

namespace {
auto& g_windowDCs = *new std::unordered_map<HWND, uint64_t>;  // guarded by g_screenLock
}  // namespace

uint64_t WindowDCsMade(HWND window) {
  std::lock_guard<std::mutex> lock(g_screenLock);
  auto it = g_windowDCs.find(window);
  return it == g_windowDCs.end() ? 0 : it->second;
}

void SetWindowCoverProvider(WindowCoverProvider provider) {
  std::lock_guard<std::mutex> lock(g_screenLock);
  g_coverProvider = std::move(provider);
}

namespace {
bool Covered(const std::vector<RECT>& covers, int x, int y) {
  for (const RECT& c : covers)
    if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) return true;
  return false;
}
}  // namespace

void PutBackCovered(DC& dc) {
  auto screen = std::move(dc.coveredScreen);
  if (!screen || !dc.s.bitmap) return;
  const Bitmap& copy = *dc.s.bitmap;
  if (copy.width != screen->width || copy.height != screen->height) return;
  // The DC's area within the screen, as when the DC was made.
  RECT a = {std::max<LONG>(dc.baseClip.left, 0), std::max<LONG>(dc.baseClip.top, 0),
            std::min<LONG>(dc.baseClip.right, screen->width), std::min<LONG>(dc.baseClip.bottom, screen->height)};
  int width = a.right - a.left;
  if (width <= 0 || a.bottom <= a.top || dc.before.size() != static_cast<size_t>(width) * (a.bottom - a.top)) return;
  bool changed = false;
  for (int y = a.top; y < a.bottom; ++y) {
    auto* drawn = reinterpret_cast<const uint32_t*>(copy.Row(y));
    auto* out = reinterpret_cast<uint32_t*>(screen->Row(y));
    const uint32_t* was = &dc.before[static_cast<size_t>(y - a.top) * width];
    for (int x = a.left; x < a.right; ++x) {
      // Only what this DC drew, so that it cannot undo what another window
      // drew meanwhile.
      if (drawn[x] == was[x - a.left] || Covered(dc.covers, x, y)) continue;
      out[x] = drawn[x];
      changed = true;
    }
  }
  dc.before.clear();
  if (changed) NoteScreenChanged();
}

bool ReadPixels(HBITMAP bitmap, int* width, int* height, std::vector<uint32_t>* rgb) {
  auto b = LookupBitmap(bitmap);
  if (!b || !width || !height || !rgb) return false;
  *width = b->width;
  *height = b->height;
  ReadBitmapPixels(*b, rgb);
  return true;
}

void ReadBitmapPixels(const Bitmap& b, std::vector<uint32_t>* rgb) {
  rgb->resize(static_cast<size_t>(b.width) * b.height);
  for (int y = 0; y < b.height; ++y) {
    uint32_t* out = rgb->data() + static_cast<size_t>(y) * b.width;
    if (b.bpp == 32) {
      // Blue, green, red, unused in memory: 0x00RRGGBB once the unused byte
      // is dropped.
      const uint8_t* row = b.Row(y);
      for (int x = 0; x < b.width; ++x) {
        uint32_t v;
        std::memcpy(&v, row + x * 4, 4);
        out[x] = v & 0x00FFFFFFu;
      }
      continue;
    }
    for (int x = 0; x < b.width; ++x) {
      COLORREF c = b.Get(x, y);
      out[x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  }
}

}  // namespace qk::gdi

using namespace qk::gdi;

HDC GetDC(HWND window) {
  ScreenConfig c = GetScreenConfig();
  RECT area = {0, 0, c.width, c.height};
  if (window) {
    WindowAreaProvider provider;
    {
      std::lock_guard<std::mutex> lock(g_screenLock);
      provider = g_windowProvider;
    }
    if (!provider || !provider(window, &area)) return nullptr;
    std::lock_guard<std::mutex> lock(g_screenLock);
    ++g_windowDCs[window];
  }
  HDC hdc = CreateScreenAreaDC(area, window);
  WindowCoverProvider covering;
  if (window) {
    std::lock_guard<std::mutex> lock(g_screenLock);
    covering = g_coverProvider;
  }
  auto dc = covering ? LookupDC(hdc) : nullptr;
  if (!dc) return hdc;
  // The DC's area within the screen, and the windows above that cover it.
  RECT bounds = {std::max<LONG>(area.left, 0), std::max<LONG>(area.top, 0), std::min<LONG>(area.right, c.width),
                 std::min<LONG>(area.bottom, c.height)};
  if (bounds.left >= bounds.right || bounds.top >= bounds.bottom) return hdc;
  std::vector<RECT> covers;
  for (RECT r : covering(window)) {
    RECT part;
    if (IntersectRect(&part, &r, &bounds)) covers.push_back(part);
  }
  if (covers.empty()) return hdc;
  auto screen = dc->s.bitmap;
  if (!screen || screen->width != c.width || screen->height != c.height) return hdc;
  auto copy = std::make_shared<Bitmap>();
  copy->width = screen->width;
  copy->height = screen->height;
  copy->bpp = 32;
  copy->stride = screen->stride;
  if (!copy->storage.Assign(screen->storage.size())) return hdc;
  copy->bits = copy->storage.data();
  copy->stock = true;
  int width = bounds.right - bounds.left;
  dc->before.resize(static_cast<size_t>(width) * (bounds.bottom - bounds.top));
  for (int y = bounds.top; y < bounds.bottom; ++y) {
    std::memcpy(copy->Row(y) + bounds.left * 4, screen->Row(y) + bounds.left * 4, static_cast<size_t>(width) * 4);
    std::memcpy(&dc->before[static_cast<size_t>(y - bounds.top) * width], screen->Row(y) + bounds.left * 4,
                static_cast<size_t>(width) * 4);
  }
  dc->coveredScreen = screen;
  dc->covers = std::move(covers);
  dc->s.bitmap = copy;
  return hdc;
}

int ReleaseDC(HWND, HDC dc) {
  auto d = LookupDC(dc);
  if (!d || !d->screen) return 0;
  return DeleteDC(dc);
}

int GetDeviceCaps(HDC hdc, int index) {
  ScreenConfig c = GetScreenConfig();
  auto dc = LookupDC(hdc);
  int bpp = 32;
  if (dc && dc->memory && dc->s.bitmap && !dc->s.bitmap->stock) bpp = dc->s.bitmap->bpp;
  switch (index) {
    case DRIVERVERSION: return 0x0500;
    case TECHNOLOGY: return DT_RASDISPLAY;
    case HORZSIZE: return c.width * 254 / (c.dpi * 10);
    case VERTSIZE: return c.height * 254 / (c.dpi * 10);
    case HORZRES: return c.width;
    case VERTRES: return c.height;
    case BITSPIXEL: return bpp;
    case PLANES: return 1;
    case NUMBRUSHES:
    case NUMPENS:
    case NUMCOLORS: return -1;
    case NUMFONTS: return 0;
    case RASTERCAPS: return RC_BITBLT | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
    case LOGPIXELSY: return c.dpi;
    case SIZEPALETTE:
    case NUMRESERVED: return 0;
    case COLORRES: return 24;
    case SHADEBLENDCAPS: return SB_CONST_ALPHA | SB_PIXEL_ALPHA;
  }
  return 0;
}

DWORD GetSysColor(int index) {
  int i = index & 0xFF;
  if (i < 0 || i >= 32) return 0;
  {
    std::lock_guard<std::mutex> lock(g_screenLock);
    if (g_sysColoursSet[i]) return g_sysColours[i];
  }
  switch (i) {
    case 13: return GetScreenConfig().highlight;           // COLOR_HIGHLIGHT
    case 14: return RGB(255, 255, 255);                    // COLOR_HIGHLIGHTTEXT
    case 5: return RGB(255, 255, 255);                     // COLOR_WINDOW
    case 8: case 7: case 18: case 23: case 26: return 0;  // text colours
    case 4: return RGB(255, 255, 255);                     // COLOR_MENU
    case 15: case 25: return RGB(214, 211, 206);           // COLOR_BTNFACE, COLOR_STATIC
    case 16: return RGB(128, 128, 128);                    // COLOR_BTNSHADOW
    case 17: return RGB(128, 128, 128);                    // COLOR_GRAYTEXT
    case 20: return RGB(255, 255, 255);                    // COLOR_BTNHIGHLIGHT
    case 21: return RGB(64, 64, 64);
    case 22: return RGB(214, 211, 206);
    case 24: return RGB(255, 255, 225);
    case 2: case 27: return GetScreenConfig().highlight;  // captions follow the highlight
    case 3: case 28: return RGB(128, 128, 128);
    case 9: return RGB(255, 255, 255);
    case 19: return RGB(212, 208, 200);
    case 1: case 12: return RGB(0, 0, 0);
    case 0: return RGB(200, 200, 200);
    case 6: case 10: case 11: return RGB(0, 0, 0);
  }
  return 0;
}

BOOL SetSysColors(int count, const int* indices, const COLORREF* colours) {
  if (count < 0 || (count && (!indices || !colours))) return FALSE;
  std::lock_guard<std::mutex> lock(g_screenLock);
  for (int k = 0; k < count; ++k) {
    int i = indices[k] & 0xFF;
    if (i < 0 || i >= 32) continue;
    g_sysColours[i] = colours[k] & 0xFFFFFF;
    g_sysColoursSet[i] = true;
  }
  return TRUE;
}
