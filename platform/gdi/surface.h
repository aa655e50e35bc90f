// The objects behind the drawing layer's handles, and the hooks through which
// the window layer and the display reach the device screen.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gdi/gdi.h"

namespace qk::gdi {

struct GdiObject {
  explicit GdiObject(int t) : type(t) {}
  virtual ~GdiObject() = default;
  int type;
  bool stock = false;
  uintptr_t handle = 0;  // set when registered
};

// Pixel memory, zeroed when made. A large store has its pages brought in
// with one call before it is written: one page fault each costs ten times
// as much, and a screen-sized bitmap has hundreds of pages.
class PixelStore {
 public:
  // size zeroed bytes; false when they cannot be had.
  bool Assign(size_t size);
  // A copy of size bytes at from.
  bool Assign(const uint8_t* from, size_t size);
  // size zeroed bytes straight from the system, for a store made once and
  // kept (the screen): nothing is cleared or brought in ahead, each page
  // comes with its first touch, in the first paint rather than in the
  // program's start.
  bool AssignUntouched(size_t size);
  uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    size_t mapped;  // the length of a mapping; 0 (as made): the heap's memory
    void operator()(uint8_t* p) const;
  };
  void Keep(uint8_t* p, size_t size, size_t mapped);
  std::unique_ptr<uint8_t, Free> bytes_;
  size_t size_ = 0;
};

// A pixel surface: a device-dependent bitmap (32 or 1 bits per pixel) or a
// DIB section of any supported layout.
struct Bitmap : GdiObject {
  Bitmap() : GdiObject(OBJ_BITMAP) {}
  int width = 0;
  int height = 0;
  int bpp = 32;
  bool topDown = true;      // row 0 of memory is the top row
  bool dibSection = false;  // created by CreateDIBSection
  int stride = 0;           // bytes per row in memory
  uint8_t* bits = nullptr;  // pixel memory (owned through storage)
  PixelStore storage;
  RGBQUAD colours[256] = {};
  int colourCount = 0;
  BITMAPINFOHEADER header = {};  // for DIB sections
  std::atomic<int> selectedCount{0};

  uint8_t* Row(int y) const { return bits + static_cast<ptrdiff_t>(topDown ? y : height - 1 - y) * stride; }
  // Colour of a pixel (0x00BBGGRR); for monochrome bitmaps 0 or 0xFFFFFF.
  COLORREF Get(int x, int y) const;
  // Stores a colour; palette bitmaps take the nearest entry, monochrome
  // bitmaps take white for any colour but black.
  void Set(int x, int y, COLORREF c);
  uint32_t NearestIndex(COLORREF c) const;
  bool Mono() const { return bpp == 1 && !dibSection; }
};

struct Brush : GdiObject {
  Brush() : GdiObject(OBJ_BRUSH) {}
  UINT style = BS_SOLID;
  COLORREF colour = 0;
  int sysIndex = -1;  // brushes of GetSysColorBrush follow the system colour
  // Pattern brushes: colours of the pattern, or for a monochrome pattern the
  // bits (0/1) to be replaced by the DC's text and background colours.
  int patWidth = 0, patHeight = 0;
  bool patMono = false;
  std::vector<COLORREF> pattern;
};

struct Pen : GdiObject {
  Pen() : GdiObject(OBJ_PEN) {}
  int style = PS_SOLID;
  int width = 1;
  COLORREF colour = 0;
};

struct Palette : GdiObject {
  Palette() : GdiObject(OBJ_PAL) {}
  std::vector<PALETTEENTRY> entries;
};

struct FontFace;  // a FreeType face at one pixel size (text.cpp)

struct Font : GdiObject {
  Font() : GdiObject(OBJ_FONT) {}
  LOGFONTW log = {};
  std::shared_ptr<FontFace> face;  // resolved on first use
  std::mutex faceLock;
};

struct DCState {
  std::shared_ptr<Bitmap> bitmap;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Font> font;
  std::shared_ptr<Palette> palette;
  COLORREF textColour = RGB(0, 0, 0);
  COLORREF bkColour = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int stretchMode = BLACKONWHITE;
  UINT textAlign = 0;
  POINT position = {0, 0};
  POINT viewport = {0, 0};  // logical (0,0) in surface coordinates
  POINT brushOrg = {0, 0};
  RECT clip = {0, 0, 0, 0};  // in surface coordinates
};

struct DC : GdiObject {
  DC() : GdiObject(OBJ_DC) {}
  bool memory = false;
  bool screen = false;  // draws on the device screen (GetDC)
  HWND window = nullptr;
  RECT baseClip = {0, 0, 0, 0};  // surface area this DC may touch
  DCState s;
  std::vector<DCState> saved;
  // A window DC partly covered by windows above the window draws into a
  // copy of the screen; releasing it puts back, outside the covered parts,
  // the pixels it changed (PutBackCovered).
  std::shared_ptr<Bitmap> coveredScreen;  // the screen itself
  std::vector<RECT> covers;               // screen rectangles it may not touch
  std::vector<uint32_t> before;           // the area's pixels when the DC was made
  // Surface rectangle usable for drawing: the clip within the bitmap.
  RECT Clip() const;
};

// Handle table.
HGDIOBJ Register(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> Lookup(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> LookupAs(HGDIOBJ handle) {
  return std::dynamic_pointer_cast<T>(Lookup(handle));
}
std::shared_ptr<DC> LookupDC(HDC dc);
std::shared_ptr<Bitmap> LookupBitmap(HBITMAP bitmap);

// Raster operation on three colours (pattern, source, destination).
uint32_t Rop3(uint32_t rop, uint32_t p, uint32_t s, uint32_t d);

// ---------------------------------------------------------------- screen

// The device screen: size, density, platform type and highlight colour.
// Defaults: 480 x 800 at 192 dpi, "pocketpc". Loaded on first use from the
// profile file "DeviceProfile.txt" in the device root (lines "key=value":
// profile, width, height, dpi, platform, highlight as RRGGBB) and then from
// the environment (QUILLET_SCREEN_PROFILE, QUILLET_SCREEN_WIDTH,
// QUILLET_SCREEN_HEIGHT, QUILLET_SCREEN_DPI, QUILLET_PLATFORM_TYPE,
// QUILLET_HIGHLIGHT). The profile "keydevice" is 240 x 320 at 96 dpi with
// the platform type "smartphone"; "touch" is the default.
struct ScreenConfig {
  int width = 480;
  int height = 800;
  int dpi = 192;
  std::u16string platformType = u"pocketpc";
  COLORREF highlight = RGB(0x31, 0x6A, 0xC5);
};
ScreenConfig DefaultScreenConfig();
ScreenConfig KeyDeviceScreenConfig();
// The configuration read from the profile file and the environment.
ScreenConfig LoadScreenConfig();
// Current configuration (loads it on first use).
ScreenConfig GetScreenConfig();
// The screen's density alone (cheap: no copy of the configuration).
int ScreenDpi();
// Replaces the configuration and makes a new, black screen surface.
void SetScreenConfig(const ScreenConfig& config);
// Forgets the configuration so that the next use loads it again.
void ResetScreenConfig();
// The screen's pixels (32 bits per pixel, top-down).
std::shared_ptr<Bitmap> ScreenSurface();
// Incremented whenever something was drawn on the screen (for the display).
uint64_t ScreenGeneration();
void NoteScreenChanged();

// A DC on a rectangle of the screen: logical (0,0) is the rectangle's
// top-left, drawing is clipped to it. Deleted with DeleteDC.
HDC CreateScreenAreaDC(const RECT& area, HWND window);

// The window layer answers GetDC(window) with the window's client area on
// the screen (false when the window does not exist).
using WindowAreaProvider = std::function<bool(HWND window, RECT* area)>;
void SetWindowDCProvider(WindowAreaProvider provider);
// The window layer names the screen rectangles of the windows above a
// window (top-level windows higher in the z-order, siblings above it or
// above one of its parents): GetDC(window) draws only outside them.
using WindowCoverProvider = std::function<std::vector<RECT>(HWND window)>;
void SetWindowCoverProvider(WindowCoverProvider provider);
// How many DCs GetDC has made on the window.
uint64_t WindowDCsMade(HWND window);
// Puts back what a covered window DC drew (DeleteDC calls it).
void PutBackCovered(DC& dc);

// A DIB section's or bitmap's pixels as 32-bit colours (0x00RRGGBB rows, top
// first), for writing pictures.
bool ReadPixels(HBITMAP bitmap, int* width, int* height, std::vector<uint32_t>* rgb);
// The same of a bitmap's pixels (the screen's, a memory DC's).
void ReadBitmapPixels(const Bitmap& bitmap, std::vector<uint32_t>* rgb);

// Starts finding the user-interface face's font files (fontconfig reads its
// whole configuration first, some milliseconds) on a thread of its own, so
// that a program's first text does not wait for all of it. The thread then
// makes the faces of the fonts the program made before (up to 64) and makes
// from then on, ahead of their first text, and sleeps while there are none.
// The first font used waits for the thread when it has not finished.
// Harmless to call more than once.
void PrepareFonts();
// Whether the font's face (its file opened, its size set) is made already.
bool FontFaceMade(HFONT font);

}  // namespace qk::gdi
