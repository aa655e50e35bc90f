// Fonts and text over FreeType, fontconfig and FriBidi.
//
// A font's height follows the platform: a positive height is the cell
// height (ascent + descent of the face's Windows metrics), a negative one the
// character (em) height, 0 a default of 8 points. Glyphs are rendered
// anti-aliased and cached per face and size.
//
// Text in every script: a character the chosen face lacks is drawn from a
// face that has it, found through fontconfig (at the same em size, on the
// same baseline; the font's metrics stay the chosen face's). Text is stored
// in logical order; drawing shows it in visual order by the bidirectional
// algorithm (the paragraph direction taken from the first strong
// character, so a Hebrew or Arabic title reads from the right), with Arabic
// letters joined into their presentation forms (lam-alef ligatures
// included). Measuring uses the same joined forms, so widths match what is
// drawn. Bidi control characters and the ligature filler take no room.
// DrawText breaks lines first and then orders each line, in the direction
// of the paragraph it belongs to; without DT_NOPREFIX "&&" shows one "&"
// and "&x" shows x underlined.
#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "gdi/surface.h"
#include "kernel/wstring.h"

namespace qk::gdi {

struct Glyph {
  int advance = 0;
  int left = 0, top = 0;  // bitmap offset from the pen position (top above the baseline)
  int width = 0, height = 0;
  std::vector<uint8_t> coverage;
};

struct FontFace {
  FT_Face face = nullptr;
  // Faces that have characters the chosen one lacks, opened on demand.
  std::vector<FT_Face> fallbacks;
  double em = 0;
  bool bold = false;
  int ascent = 0, descent = 0, internalLeading = 0;
  int aveCharWidth = 0, maxCharWidth = 0;
  bool emboldenSynth = false, obliqueSynth = false;
  bool underline = false, strikeOut = false;
  int weight = FW_NORMAL;
  bool italic = false;
  std::mutex lock;
  std::unordered_map<uint32_t, Glyph> glyphs;

  ~FontFace();
  // The face to draw cp with and its glyph index there (caller holds lock).
  FT_Face FaceFor(uint32_t cp, FT_UInt* index);
  const Glyph& Get(uint32_t cp);
};

namespace {

std::mutex g_libLock;
FT_Library g_lib = nullptr;
std::map<std::tuple<std::string, bool, bool>, std::pair<std::string, int>> g_fileCache;
std::map<std::tuple<std::string, int, bool, bool, int, bool, bool>, std::weak_ptr<FontFace>> g_faceCache;

std::string FamilyFor(const LOGFONTW& lf) {
  std::u16string face(lf.lfFaceName, wcsnlen(lf.lfFaceName, LF_FACESIZE));
  std::string name = qk::ToUtf8(face);
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  // The device's user-interface faces all map to one sans-serif face.
  if (lower.empty() || lower == "tahoma" || lower == "system" || lower == "ms sans serif" ||
      lower == "segoe ui" || lower == "arial" || lower == "helvetica" || lower == "nina")
    return "DejaVu Sans";
  if (lower == "courier new" || lower == "courier") return "DejaVu Sans Mono";
  if (lower == "times new roman" || lower == "georgia") return "DejaVu Serif";
  return name;
}

void JoinFontPreparation();

// The font file for a family and style (caller holds g_libLock).
std::pair<std::string, int> FindFile(const std::string& family, bool bold, bool italic) {
  auto key = std::make_tuple(family, bold, italic);
  auto it = g_fileCache.find(key);
  if (it != g_fileCache.end()) return it->second;
  std::pair<std::string, int> result;
  // Fontconfig's state is released at exit, once nothing draws any more
  // and the font preparation, which may still be matching, has ended.
  static bool fcReady = [] {
    bool ok = FcInit();
    if (ok) std::atexit([] {
      JoinFontPreparation();
      FcFini();
    });
    return ok;
  }();
  if (fcReady) {
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_OBLIQUE : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* match = FcFontMatch(nullptr, pat, &res);
    if (match) {
      FcChar8* file = nullptr;
      int index = 0;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        result = {reinterpret_cast<const char*>(file), index};
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
  }
  if (result.first.empty()) {
    const char* fallback = bold ? "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
                                : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    result = {fallback, 0};
  }
  g_fileCache[key] = result;
  return result;
}

// The font file with a face that has cp, near the family and style asked
// for; empty when no installed font has it (caller holds g_libLock).
std::pair<std::string, int> FindFallbackFile(uint32_t cp, bool bold, bool italic) {
  static std::map<std::tuple<uint32_t, bool, bool>, std::pair<std::string, int>> cache;
  auto key = std::make_tuple(cp, bold, italic);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  std::pair<std::string, int> result;
  FcPattern* pat = FcPatternCreate();
  FcCharSet* wanted = FcCharSetCreate();
  FcCharSetAddChar(wanted, cp);
  FcPatternAddCharSet(pat, FC_CHARSET, wanted);
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_OBLIQUE : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* match = FcFontMatch(nullptr, pat, &res);
  if (match) {
    FcCharSet* has = nullptr;
    FcChar8* file = nullptr;
    int index = 0;
    // The best match may still lack it: then nothing has it.
    if (FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch && FcCharSetHasChar(has, cp) &&
        FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      result = {reinterpret_cast<const char*>(file), index};
    }
    FcPatternDestroy(match);
  }
  FcCharSetDestroy(wanted);
  FcPatternDestroy(pat);
  cache[key] = result;
  return result;
}

// The thread of PrepareFonts, joined before the tables it fills go at exit
// and before fontconfig's state is released. Once the font files are found
// it makes the faces of the fonts the program creates from then on, ahead
// of their first text (a face reads its font file and renders the letters
// that give its average width: about half a millisecond each), and sleeps
// while there are none.
struct FontPreparation {
  std::mutex lock;  // the thread object
  std::thread thread;
  std::mutex queueLock;
  std::condition_variable more;
  std::deque<std::weak_ptr<Font>> fonts;  // guarded by queueLock
  bool ending = false;                     // guarded by queueLock
  void Join() {
    {
      std::lock_guard<std::mutex> guard(queueLock);
      ending = true;
    }
    more.notify_all();
    std::lock_guard<std::mutex> guard(lock);
    if (thread.joinable()) thread.join();
  }
  void Add(const std::shared_ptr<Font>& font) {
    {
      std::lock_guard<std::mutex> guard(queueLock);
      if (ending) return;
      fonts.push_back(font);
    }
    more.notify_one();
  }
  void MakeFaces();
  ~FontPreparation();
};
std::atomic<FontPreparation*> g_preparation{nullptr};
// Fonts created before the preparation started (a program's first windows
// make theirs before it asks for it): handed to it when it starts.
constexpr size_t kEarlyFonts = 64;
std::mutex g_earlyLock;
std::vector<std::weak_ptr<Font>> g_earlyFonts;  // guarded by g_earlyLock
FontPreparation::~FontPreparation() {
  g_preparation = nullptr;
  Join();
}

void JoinFontPreparation() {
  if (FontPreparation* preparation = g_preparation.load()) preparation->Join();
}

std::shared_ptr<FontFace> MakeFace(const LOGFONTW& lf);

void FontPreparation::MakeFaces() {
  for (;;) {
    std::shared_ptr<Font> font;
    {
      std::unique_lock<std::mutex> guard(queueLock);
      more.wait(guard, [this] { return ending || !fonts.empty(); });
      if (ending) return;
      font = fonts.front().lock();  // null when the program deleted it already
      fonts.pop_front();
    }
    if (!font) continue;
    std::lock_guard<std::mutex> faceLock(font->faceLock);
    if (!font->face) font->face = MakeFace(font->log);
  }
}

}  // namespace

void PrepareFonts() {
  // Made after the tables above, so destroyed (and joined) before them.
  static FontPreparation preparation;
  {
    std::lock_guard<std::mutex> early(g_earlyLock);
    if (!g_preparation.exchange(&preparation)) {
      for (auto& font : g_earlyFonts)
        if (auto alive = font.lock()) preparation.Add(alive);
      g_earlyFonts.clear();
    }
  }
  std::lock_guard<std::mutex> guard(preparation.lock);
  if (preparation.thread.joinable()) return;
  preparation.thread = std::thread([] {
    {
      std::lock_guard<std::mutex> lock(g_libLock);
      if (!g_lib && FT_Init_FreeType(&g_lib)) g_lib = nullptr;
      // The device's user-interface face, plain and bold: every screen's text.
      FindFile("DejaVu Sans", false, false);
      FindFile("DejaVu Sans", true, false);
    }
    preparation.MakeFaces();
  });
}

namespace {

// Characters that take no room and draw nothing: bidi controls, joiners
// and the filler a lam-alef ligature leaves behind.
bool Invisible(uint32_t cp) {
  return (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
         cp == 0xFEFF || cp == 0x061C;
}

int DefaultHeight() { return -((8 * ScreenDpi() + 36) / 72); }

std::shared_ptr<FontFace> MakeFace(const LOGFONTW& lf) {
  bool bold = lf.lfWeight >= FW_SEMIBOLD;
  bool italic = lf.lfItalic != 0;
  int height = lf.lfHeight ? lf.lfHeight : DefaultHeight();
  std::string family = FamilyFor(lf);
  auto key = std::make_tuple(family, height, bold, italic, static_cast<int>(lf.lfWidth), lf.lfUnderline != 0,
                             lf.lfStrikeOut != 0);
  std::unique_lock<std::mutex> lock(g_libLock);
  auto cached = g_faceCache.find(key);
  if (cached != g_faceCache.end())
    if (auto f = cached->second.lock()) return f;
  if (!g_lib && FT_Init_FreeType(&g_lib)) return nullptr;
  auto file = FindFile(family, bold, italic);
  auto f = std::make_shared<FontFace>();
  if (FT_New_Face(g_lib, file.first.c_str(), file.second, &f->face)) {
    f->face = nullptr;
    auto fb = FindFile("DejaVu Sans", bold, italic);
    if (FT_New_Face(g_lib, fb.first.c_str(), fb.second, &f->face)) {
      f->face = nullptr;  // nothing to close: the face goes without the lock
      return nullptr;
    }
  }
  FT_Face face = f->face;
  f->emboldenSynth = bold && !(face->style_flags & FT_STYLE_FLAG_BOLD);
  f->obliqueSynth = italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
  f->underline = lf.lfUnderline != 0;
  f->strikeOut = lf.lfStrikeOut != 0;
  f->weight = lf.lfWeight ? lf.lfWeight : FW_NORMAL;
  f->italic = italic;
  double upem = face->units_per_EM ? face->units_per_EM : 2048;
  double winAsc = face->ascender, winDesc = -face->descender;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2))) {
    if (os2->usWinAscent + os2->usWinDescent > 0) {
      winAsc = os2->usWinAscent;
      winDesc = os2->usWinDescent;
    }
  }
  double cell = winAsc + winDesc;
  double em;
  int cellPx;
  if (height > 0) {
    cellPx = height;
    em = height * upem / cell;
  } else {
    em = -height;
    cellPx = static_cast<int>(std::lround(em * cell / upem));
  }
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
  f->em = em;
  f->bold = bold;
  f->ascent = static_cast<int>(std::lround(winAsc * em / upem));
  f->descent = cellPx - f->ascent;
  f->internalLeading = cellPx - static_cast<int>(std::lround(em));
  if (f->internalLeading < 0) f->internalLeading = 0;
  // Average width from the lower-case letters, as the platform reports it.
  // Measured without the library lock: a face that lacks a letter opens a
  // fallback face, which takes that lock.
  lock.unlock();
  {
    std::lock_guard<std::mutex> glock(f->lock);
    int sum = 0, maxw = 0;
    for (char c = 'a'; c <= 'z'; ++c) sum += f->Get(static_cast<uint32_t>(c)).advance;
    sum += f->Get(' ').advance;
    for (uint32_t c : {'W', 'M', 'm'}) maxw = std::max(maxw, f->Get(c).advance);
    f->aveCharWidth = (sum + 13) / 27;
    f->maxCharWidth = maxw;
  }
  lock.lock();
  if (auto other = g_faceCache[key].lock()) {  // made meanwhile by another thread
    lock.unlock();  // this one is closed without the lock held
    return other;
  }
  g_faceCache[key] = f;
  return f;
}

}  // namespace

// Faces are opened and closed under the library lock: FreeType wants the
// calls on one library serialised.
FontFace::~FontFace() {
  if (!face && fallbacks.empty()) return;
  std::lock_guard<std::mutex> libLock(g_libLock);
  if (face) FT_Done_Face(face);
  for (FT_Face fb : fallbacks) FT_Done_Face(fb);
}

FT_Face FontFace::FaceFor(uint32_t cp, FT_UInt* index) {
  *index = FT_Get_Char_Index(face, cp);
  if (*index || cp < 0x20) return face;
  for (FT_Face fb : fallbacks)
    if ((*index = FT_Get_Char_Index(fb, cp)) != 0) return fb;
  std::lock_guard<std::mutex> libLock(g_libLock);
  auto file = FindFallbackFile(cp, bold, italic);
  if (file.first.empty()) return face;  // drawn as the face's missing-glyph box
  FT_Face fb = nullptr;
  if (FT_New_Face(g_lib, file.first.c_str(), file.second, &fb) != 0) return face;
  FT_Set_Char_Size(fb, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
  *index = FT_Get_Char_Index(fb, cp);
  if (!*index) {
    FT_Done_Face(fb);
    return face;
  }
  fallbacks.push_back(fb);
  return fb;
}

// Caller holds the face's lock.
const Glyph& FontFace::Get(uint32_t cp) {
  auto it = glyphs.find(cp);
  if (it != glyphs.end()) return it->second;
  Glyph g;
  if (Invisible(cp)) return glyphs.emplace(cp, std::move(g)).first->second;
  FT_UInt index = 0;
  FT_Face from = FaceFor(cp, &index);
  if (FT_Load_Glyph(from, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0) {
    FT_GlyphSlot slot = from->glyph;
    if (emboldenSynth || (bold && from != face && !(from->style_flags & FT_STYLE_FLAG_BOLD)))
      FT_GlyphSlot_Embolden(slot);
    if (obliqueSynth || (italic && from != face && !(from->style_flags & FT_STYLE_FLAG_ITALIC)))
      FT_GlyphSlot_Oblique(slot);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (cp != ' ' && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0) {
      FT_Bitmap& bm = slot->bitmap;
      g.left = slot->bitmap_left;
      g.top = slot->bitmap_top;
      g.width = static_cast<int>(bm.width);
      g.height = static_cast<int>(bm.rows);
      g.coverage.resize(static_cast<size_t>(g.width) * g.height);
      for (int y = 0; y < g.height; ++y) {
        const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
          for (int x = 0; x < g.width; ++x)
            g.coverage[static_cast<size_t>(y) * g.width + x] = ((src[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
        } else {
          std::memcpy(&g.coverage[static_cast<size_t>(y) * g.width], src, static_cast<size_t>(g.width));
        }
      }
    }
  }
  return glyphs.emplace(cp, std::move(g)).first->second;
}

bool FontFaceMade(HFONT handle) {
  auto font = LookupAs<Font>(handle);
  if (!font) return false;
  std::lock_guard<std::mutex> lock(font->faceLock);
  return font->face != nullptr;
}

std::shared_ptr<FontFace> FaceOf(const DC& dc) {
  std::shared_ptr<Font> font = dc.s.font;
  if (!font) font = LookupAs<Font>(GetStockObject(SYSTEM_FONT));
  if (!font) return nullptr;
  std::lock_guard<std::mutex> lock(font->faceLock);
  if (!font->face) font->face = MakeFace(font->log);
  return font->face;
}

namespace {

// Decodes one code point; advances i past it.
inline uint32_t NextCodePoint(const char16_t* s, int n, int& i) {
  uint32_t c = s[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < n && s[i] >= 0xDC00 && s[i] < 0xE000) {
    c = 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00);
    ++i;
  }
  return c;
}

// True when the text needs the bidirectional algorithm or Arabic joining:
// it has a right-to-left or joining character, or a bidi control.
bool NeedsBidi(const char16_t* s, int n) {
  for (int i = 0; i < n; ++i) {
    char16_t c = s[i];
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF) ||
        (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
        (c >= 0xD802 && c <= 0xD803) || c == 0xD83A || c == 0xD83B)  // right-to-left planes
      return true;
  }
  return false;
}

// A run of text ready to measure and draw: its characters as they are shown
// (joined forms, mirrored brackets), in logical order, each with the first
// unit of the text it came from; and the order they are drawn in.
struct ShapedText {
  std::vector<uint32_t> chars;
  std::vector<int> firstUnit;  // per character; firstUnit[size] == n
  std::vector<int> visual;     // character indices, left to right
};

// base: the paragraph's direction, or FRIBIDI_PAR_ON to take it from the
// text's first strong character.
ShapedText Shape(const char16_t* s, int n, FriBidiParType base = FRIBIDI_PAR_ON) {
  ShapedText t;
  t.chars.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n;) {
    t.firstUnit.push_back(i);
    t.chars.push_back(NextCodePoint(s, n, i));
  }
  t.firstUnit.push_back(n);
  int len = static_cast<int>(t.chars.size());
  t.visual.resize(static_cast<size_t>(len));
  for (int i = 0; i < len; ++i) t.visual[static_cast<size_t>(i)] = i;
  if (len == 0 || (base != FRIBIDI_PAR_RTL && !NeedsBidi(s, n))) return t;
  std::vector<FriBidiChar> str(t.chars.begin(), t.chars.end());
  std::vector<FriBidiCharType> types(static_cast<size_t>(len));
  std::vector<FriBidiBracketType> brackets(static_cast<size_t>(len));
  std::vector<FriBidiLevel> levels(static_cast<size_t>(len));
  std::vector<FriBidiArabicProp> joining(static_cast<size_t>(len));
  std::vector<FriBidiStrIndex> map(static_cast<size_t>(len));
  fribidi_get_bidi_types(str.data(), len, types.data());
  fribidi_get_bracket_types(str.data(), len, types.data(), brackets.data());
  if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &base, levels.data())) return t;
  fribidi_get_joining_types(str.data(), len, joining.data());
  fribidi_join_arabic(types.data(), len, levels.data(), joining.data());
  FriBidiFlags flags = FRIBIDI_FLAGS_DEFAULT | FRIBIDI_FLAGS_ARABIC;
  fribidi_shape(flags, levels.data(), len, joining.data(), str.data());
  for (int i = 0; i < len; ++i) map[static_cast<size_t>(i)] = i;
  if (!fribidi_reorder_line(flags, types.data(), len, 0, base, levels.data(), nullptr, map.data())) return t;
  for (int i = 0; i < len; ++i) {
    t.chars[static_cast<size_t>(i)] = str[static_cast<size_t>(i)];
    t.visual[static_cast<size_t>(i)] = map[static_cast<size_t>(i)];
  }
  return t;
}

// Width of each unit of the text (the second unit of a pair has width 0).
int MeasureUnits(FontFace& f, const char16_t* s, int n, int* dx) {
  if (!NeedsBidi(s, n)) {  // the common case: shown as stored, one glyph per character
    std::lock_guard<std::mutex> lock(f.lock);
    int x = 0;
    for (int i = 0; i < n;) {
      int start = i;
      x += f.Get(NextCodePoint(s, n, i)).advance;
      if (dx)
        for (int k = start; k < i; ++k) dx[k] = x;
    }
    return x;
  }
  ShapedText t = Shape(s, n);
  std::lock_guard<std::mutex> lock(f.lock);
  int x = 0;
  for (size_t c = 0; c < t.chars.size(); ++c) {
    x += f.Get(t.chars[c]).advance;
    if (dx)
      for (int k = t.firstUnit[c]; k < t.firstUnit[c + 1]; ++k) dx[k] = x;
  }
  return x;
}

inline void BlendPixel(Bitmap& b, int x, int y, COLORREF c, uint32_t a) {
  if (a == 0) return;
  if (b.Mono()) {
    if (a >= 128) b.Set(x, y, c ? 0xFFFFFF : 0);
    return;
  }
  if (b.bpp == 32 || b.bpp == 24) {
    uint8_t* p = b.Row(y) + x * (b.bpp / 8);
    if (a == 255) {
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
      return;
    }
    uint32_t na = 255 - a;
    auto mix = [&](uint32_t s, uint32_t d) {
      uint32_t v = s * a + d * na + 128;
      return static_cast<uint8_t>((v + (v >> 8)) >> 8);
    };
    p[0] = mix(GetBValue(c), p[0]);
    p[1] = mix(GetGValue(c), p[1]);
    p[2] = mix(GetRValue(c), p[2]);
    return;
  }
  if (a == 255) {
    b.Set(x, y, c);
    return;
  }
  COLORREF d = b.Get(x, y);
  uint32_t na = 255 - a;
  auto mix = [&](uint32_t s, uint32_t dd) { return (s * a + dd * na + 127) / 255; };
  b.Set(x, y, RGB(mix(GetRValue(c), GetRValue(d)), mix(GetGValue(c), GetGValue(d)), mix(GetBValue(c), GetBValue(d))));
}

// Draws a run with its top-left at surface (x, y), clipped to clip, in
// visual order for a paragraph of direction base. The characters whose
// first units are in underlined get a line under them.
void DrawRun(DC& dc, FontFace& f, int x, int y, const char16_t* s, int n, const RECT& clip, const int* dxArray,
             FriBidiParType base, const std::vector<int>& underlined) {
  Bitmap& b = *dc.s.bitmap;
  COLORREF colour = dc.s.textColour;
  int baseline = y + f.ascent;
  int penX = x;
  ShapedText t = Shape(s, n, base);
  std::vector<std::pair<int, int>> marks;  // x ranges to underline
  {
    std::lock_guard<std::mutex> lock(f.lock);
    for (int c : t.visual) {
      int start = t.firstUnit[static_cast<size_t>(c)];
      const Glyph& g = f.Get(t.chars[static_cast<size_t>(c)]);
      int advance = dxArray ? dxArray[start] : g.advance;
      if (std::find(underlined.begin(), underlined.end(), start) != underlined.end())
        marks.push_back({penX, penX + advance});
      int gx = penX + g.left, gy = baseline - g.top;
      int x0 = std::max<int>(gx, clip.left), x1 = std::min<int>(gx + g.width, clip.right);
      int y0 = std::max<int>(gy, clip.top), y1 = std::min<int>(gy + g.height, clip.bottom);
      for (int yy = y0; yy < y1; ++yy) {
        const uint8_t* cov = &g.coverage[static_cast<size_t>(yy - gy) * g.width];
        for (int xx = x0; xx < x1; ++xx) BlendPixel(b, xx, yy, colour, cov[xx - gx]);
      }
      penX += advance;
    }
  }
  auto hline = [&](int yy, int from, int to) {
    if (yy < clip.top || yy >= clip.bottom) return;
    int thick = std::max(1, (f.ascent + f.descent) / 16);
    for (int t = 0; t < thick && yy + t < clip.bottom; ++t)
      for (int xx = std::max<int>(from, clip.left); xx < std::min<int>(to, clip.right); ++xx)
        BlendPixel(b, xx, yy + t, colour, 255);
  };
  int under = baseline + std::max(1, f.descent / 3);
  if (f.underline) hline(under, x, penX);
  else
    for (auto [from, to] : marks) hline(under, from, to);
  if (f.strikeOut) hline(baseline - f.ascent / 3, x, penX);
}

}  // namespace

}  // namespace qk::gdi

using namespace qk::gdi;

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
  if (!lf) return nullptr;
  auto f = std::make_shared<Font>();
  f->log = *lf;
  HFONT font = reinterpret_cast<HFONT>(Register(f));
  std::lock_guard<std::mutex> early(g_earlyLock);
  if (FontPreparation* preparation = g_preparation.load()) {
    preparation->Add(f);
  } else {
    // A program that never prepares its fonts keeps no more than the
    // fonts still alive among the last ones it made.
    if (g_earlyFonts.size() >= kEarlyFonts)
      std::erase_if(g_earlyFonts, [](const std::weak_ptr<Font>& early) { return early.expired(); });
    if (g_earlyFonts.size() < kEarlyFonts) g_earlyFonts.push_back(f);
  }
  return font;
}

BOOL GetTextMetricsW(HDC hdc, LPTEXTMETRICW tm) {
  auto dc = LookupDC(hdc);
  if (!dc || !tm) return FALSE;
  auto f = FaceOf(*dc);
  if (!f) return FALSE;
  std::memset(tm, 0, sizeof *tm);
  tm->tmHeight = f->ascent + f->descent;
  tm->tmAscent = f->ascent;
  tm->tmDescent = f->descent;
  tm->tmInternalLeading = f->internalLeading;
  tm->tmAveCharWidth = f->aveCharWidth;
  tm->tmMaxCharWidth = f->maxCharWidth;
  tm->tmWeight = f->weight;
  tm->tmItalic = f->italic ? 1 : 0;
  tm->tmUnderlined = f->underline ? 1 : 0;
  tm->tmStruckOut = f->strikeOut ? 1 : 0;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = ScreenDpi();
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFC;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmPitchAndFamily = 0x06;  // variable pitch, TrueType
  tm->tmCharSet = DEFAULT_CHARSET;
  return TRUE;
}

BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR text, int count, int maxExtent, LPINT fit, LPINT dx, LPSIZE size) {
  auto dc = LookupDC(hdc);
  if (!dc || count < 0 || (count > 0 && !text)) return FALSE;
  auto f = FaceOf(*dc);
  if (!f) return FALSE;
  std::vector<int> local;
  int* extents = dx;
  if (fit && !extents) {
    local.resize(static_cast<size_t>(count) + 1);
    extents = local.data();
  }
  int width = MeasureUnits(*f, text, count, extents);
  if (fit) {
    int n = 0;
    while (n < count && extents[n] <= maxExtent) ++n;
    *fit = n;
  }
  if (size) *size = {width, f->ascent + f->descent};
  return TRUE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, LPSIZE size) {
  return GetTextExtentExPointW(hdc, text, count, 0, nullptr, nullptr, size);
}

namespace {

// ExtTextOutW for a paragraph of direction base, with the characters at
// the units in underlined underlined.
BOOL TextOutRun(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const int* dx,
                FriBidiParType base, const std::vector<int>& underlined) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap) return FALSE;
  auto f = FaceOf(*dc);
  if (!f) return FALSE;
  POINT v = dc->s.viewport;
  RECT clip = dc->Clip();
  RECT r = {};
  if (rect) {
    r = *rect;
    OffsetRect(&r, v.x, v.y);
  }
  if ((options & ETO_OPAQUE) && rect) {
    RECT fill = r;
    if (IntersectRect(&fill, &fill, &clip)) {
      HBRUSH brush = CreateSolidBrush(dc->s.bkColour);
      RECT logical = *rect;
      FillRect(hdc, &logical, brush);
      DeleteObject(brush);
    }
  }
  if ((options & ETO_CLIPPED) && rect && !IntersectRect(&clip, &clip, &r)) return TRUE;
  int n = static_cast<int>(count);
  int width = 0;
  if (n > 0 && text) {
    std::vector<int> ext(static_cast<size_t>(n));
    width = MeasureUnits(*f, text, n, ext.data());
    if (dx) {
      width = 0;
      for (int i = 0; i < n; ++i) width += dx[i];
    }
  }
  int sx = x + v.x, sy = y + v.y;
  UINT align = dc->s.textAlign;
  if ((align & TA_CENTER) == TA_CENTER) sx -= width / 2;
  else if (align & TA_RIGHT) sx -= width;
  if ((align & TA_BASELINE) == TA_BASELINE) sy -= f->ascent;
  else if (align & TA_BOTTOM) sy -= f->ascent + f->descent;
  if (dc->s.bkMode == OPAQUE && !(options & ETO_OPAQUE)) {
    RECT back = {sx, sy, sx + width, sy + f->ascent + f->descent};
    if (IntersectRect(&back, &back, &clip)) {
      Bitmap& b = *dc->s.bitmap;
      for (int yy = back.top; yy < back.bottom; ++yy)
        for (int xx = back.left; xx < back.right; ++xx) b.Set(xx, yy, dc->s.bkColour);
    }
  }
  if (n > 0 && text) DrawRun(*dc, *f, sx, sy, text, n, clip, dx, base, underlined);
  if (dc->screen) NoteScreenChanged();
  return TRUE;
}

}  // namespace

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const int* dx) {
  return TextOutRun(hdc, x, y, options, rect, text, count, dx,
                    (options & ETO_RTLREADING) ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_ON, {});
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count) {
  if (count < 0) return FALSE;
  return ExtTextOutW(hdc, x, y, 0, nullptr, text, static_cast<UINT>(count), nullptr);
}

// ---------------------------------------------------------------- DrawText

namespace {

int Width(FontFace& f, const std::u16string& s) { return MeasureUnits(f, s.data(), static_cast<int>(s.size()), nullptr); }

// The longest beginning of s that, followed by "...", fits in width.
std::u16string WithEllipsis(FontFace& f, const std::u16string& s, int width) {
  int dots = Width(f, u"...");
  std::vector<int> ext(s.size() + 1);
  MeasureUnits(f, s.data(), static_cast<int>(s.size()), ext.data());
  size_t n = 0;
  while (n < s.size() && ext[n] + dots <= width) ++n;
  // Never cut a surrogate pair in two.
  if (n > 0 && n < s.size() && s[n] >= 0xDC00 && s[n] < 0xE000) --n;
  return s.substr(0, n) + u"...";
}

// The lines of a paragraph broken at blanks to fit width, as (start,
// length) in the paragraph; a word too wide for the width keeps a line of
// its own, blanks at a break are dropped.
void WrapParagraph(FontFace& f, const std::u16string& para, int width, std::vector<std::pair<size_t, size_t>>& out) {
  if (para.empty()) {
    out.push_back({0, 0});
    return;
  }
  size_t pos = 0;
  while (pos < para.size()) {
    // Take words while they fit.
    size_t end = pos, lastFit = std::u16string::npos;
    while (end <= para.size()) {
      size_t next = para.find(u' ', end);
      if (next == std::u16string::npos) next = para.size();
      std::u16string candidate = para.substr(pos, next - pos);
      if (Width(f, candidate) <= width || lastFit == std::u16string::npos) {
        lastFit = next;
        if (Width(f, candidate) > width) break;  // a single word too wide stays on its own line
      } else {
        break;
      }
      if (next >= para.size()) break;
      end = next + 1;
    }
    size_t length = lastFit - pos;
    while (length > 0 && para[pos + length - 1] == u' ') --length;
    out.push_back({pos, length});
    pos = lastFit;
    while (pos < para.size() && para[pos] == u' ') ++pos;
  }
}

// The direction of a paragraph: that of its first strong character
// (FRIBIDI_PAR_ON when it has none).
FriBidiParType ParagraphDirection(const std::u16string& para) {
  int n = static_cast<int>(para.size());
  if (!NeedsBidi(para.data(), n)) return FRIBIDI_PAR_ON;
  std::vector<FriBidiChar> str;
  for (int i = 0; i < n;) str.push_back(NextCodePoint(para.data(), n, i));
  std::vector<FriBidiCharType> types(str.size());
  fribidi_get_bidi_types(str.data(), static_cast<FriBidiStrIndex>(str.size()), types.data());
  return fribidi_get_par_direction(types.data(), static_cast<FriBidiStrIndex>(types.size()));
}

// One line of DrawText: its text, the direction of its paragraph and the
// units of the text whose characters are underlined ("&x").
struct TextLine {
  std::u16string text;
  FriBidiParType base = FRIBIDI_PAR_ON;
  std::vector<int> underlined;
};

}  // namespace

int DrawTextW(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT format) {
  auto dc = LookupDC(hdc);
  if (!dc || !rect || !text) return 0;
  auto f = FaceOf(*dc);
  if (!f) return 0;
  std::u16string s(text, count < 0 ? wcslen(text) : static_cast<size_t>(count));
  if (format & DT_EXPANDTABS) {
    std::u16string t;
    for (char16_t c : s) t += c == u'\t' ? std::u16string(8, u' ') : std::u16string(1, c);
    s = t;
  }
  // Without DT_NOPREFIX, "&&" shows one "&" and "&x" shows x underlined.
  std::vector<bool> mark(s.size(), false);
  if (!(format & DT_NOPREFIX)) {
    std::u16string t;
    std::vector<bool> m;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == u'&') {
        if (i + 1 < s.size() && s[i + 1] == u'&') {
          t += u'&';
          m.push_back(false);
          ++i;
        } else if (i + 1 < s.size()) {
          t += s[++i];
          m.push_back(true);
        }
        continue;
      }
      t += s[i];
      m.push_back(false);
    }
    s = t;
    mark = m;
  }
  int boxWidth = rect->right - rect->left;
  std::vector<TextLine> lines;
  // A line of s from start; the marks it holds move with it.
  auto addLine = [&](size_t start, size_t length, FriBidiParType base) {
    TextLine line{s.substr(start, length), base, {}};
    for (size_t i = 0; i < length; ++i)
      if (mark[start + i]) line.underlined.push_back(static_cast<int>(i));
    lines.push_back(std::move(line));
  };
  const bool rtlReading = (format & DT_RTLREADING) != 0;
  if (format & DT_SINGLELINE) {
    for (auto& c : s)
      if (c == u'\r' || c == u'\n') c = u' ';
    addLine(0, s.size(), rtlReading ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_ON);
  } else {
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
      if (i == s.size() || s[i] == u'\n' || s[i] == u'\r') {
        std::u16string para = s.substr(start, i - start);
        // Every line of a paragraph reads in the paragraph's direction,
        // whatever its own first word is.
        FriBidiParType base = rtlReading ? FRIBIDI_PAR_RTL : ParagraphDirection(para);
        if (format & DT_WORDBREAK) {
          std::vector<std::pair<size_t, size_t>> parts;
          WrapParagraph(*f, para, boxWidth, parts);
          for (auto [from, length] : parts) addLine(start + from, length, base);
        } else {
          addLine(start, para.size(), base);
        }
        if (i < s.size() && s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') ++i;
        start = i + 1;
      }
    }
  }
  int lineHeight = f->ascent + f->descent;
  if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS)) {
    for (auto& line : lines)
      if (Width(*f, line.text) > boxWidth) {
        line.text = WithEllipsis(*f, line.text, boxWidth);
        int kept = static_cast<int>(line.text.size()) - 3;
        line.underlined.erase(std::remove_if(line.underlined.begin(), line.underlined.end(),
                                             [&](int u) { return u >= kept; }),
                              line.underlined.end());
      }
  }
  int maxWidth = 0;
  std::vector<int> widths;
  for (auto& line : lines) {
    widths.push_back(Width(*f, line.text));
    maxWidth = std::max(maxWidth, widths.back());
  }
  int height = lineHeight * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    if (!(format & DT_WORDBREAK) || maxWidth > 0) rect->right = rect->left + maxWidth;
    rect->bottom = rect->top + height;
    return height;
  }
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
    else if (format & DT_BOTTOM) y = rect->bottom - lineHeight;
  }
  int saved = SaveDC(hdc);
  if (!(format & DT_NOCLIP)) IntersectClipRect(hdc, rect->left, rect->top, rect->right, rect->bottom);
  UINT oldAlign = dc->s.textAlign;
  dc->s.textAlign = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    int x = rect->left;
    if (format & DT_CENTER) x = rect->left + (boxWidth - widths[i]) / 2;
    else if (format & DT_RIGHT) x = rect->right - widths[i];
    TextOutRun(hdc, x, y + static_cast<int>(i) * lineHeight, 0, nullptr, lines[i].text.data(),
               static_cast<UINT>(lines[i].text.size()), nullptr, lines[i].base, lines[i].underlined);
  }
  dc->s.textAlign = oldAlign;
  RestoreDC(hdc, saved);
  return (y - rect->top) + height;
}
