// The HTML viewer control (see htmlview.h): the two window classes, the
// page state of one control and the drawing container that litehtml lays
// out and draws through.
#include "htmlview/htmlview.h"

#include <litehtml/litehtml.h>
#include <litehtml/el_image.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gdi/surface.h"
#include "htmlview/text_boxes.h"
#include "htmlview/visual_order.h"
#include "kernel/wstring.h"
#include "user/idle.h"
#include "user/input.h"

#ifndef VK_PRIOR
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_UP 0x26
#define VK_DOWN 0x28
#endif

namespace {

const char16_t kInnerClass[] = u"DISPLAYCLASS.Page";

// Posted to the page window: lay out the rest of a page shown from its
// first screen, once what is owed is painted and the screen shows it.
constexpr UINT kCompleteMessage = WM_APP + 0x3A1;
// Posted to the page window: free the documents of pages no longer shown.
constexpr UINT kFreeRetiredMessage = WM_APP + 0x3A2;
// Posted to the page window: tell the parent its page is laid out whole
// (when that happened while the page was being painted).
constexpr UINT kNotifyCompleteMessage = WM_APP + 0x3A3;

// The text a page shown from its first screen starts with: more than
// fills the screen at the largest zoom level (whether it does is checked
// once it is laid out).
constexpr size_t kFirstScreenText = 4000;

// ---------------------------------------------------------------- text

std::string ToUtf8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n + n / 4);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Decodes UTF-8 (malformed sequences become U+FFFD) into UTF-16.
std::u16string ToUtf16(const char* s, size_t n) {
  std::u16string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) { c = b; extra = 0; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
    else { out.push_back(0xFFFD); ++i; continue; }
    if (i + extra >= n + (extra ? 0 : 1) && extra) { out.push_back(0xFFFD); break; }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (cb & 0x3F);
    }
    if (!ok) { out.push_back(0xFFFD); ++i; continue; }
    i += extra + 1;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}
std::u16string ToUtf16(const std::string& s) { return ToUtf16(s.data(), s.size()); }

COLORREF ToColour(const litehtml::web_color& c) { return RGB(c.red, c.green, c.blue); }

// ---------------------------------------------------------------- images

struct Image {
  DWORD cookie = 0;
  bool answered = false;  // the host gave a picture
  bool failed = false;    // the host has none
  HBITMAP bitmap = nullptr;
  bool own = false;
  int width = 0, height = 0;
  // A copy scaled to the size last drawn at, so a page that shows a picture
  // smaller than it is does not rescale it at every paint (see DrawImage).
  HBITMAP scaled = nullptr;
  int scaledWidth = 0, scaledHeight = 0;

  void DropScaled() {
    if (scaled) DeleteObject(scaled);
    scaled = nullptr;
    scaledWidth = scaledHeight = 0;
  }
  void Release() {
    if (bitmap && own) DeleteObject(bitmap);
    bitmap = nullptr;
    DropScaled();
  }
};

// A picture whose box is held to kMaxImageBox pixels each way, whatever
// sizes the page gives it (attributes, styles or percentages): the layout
// works out its box as for any picture, then bounds it.
class BoundedImage final : public litehtml::el_image {
 public:
  using litehtml::el_image::el_image;
  int render(int x, int y, int maxWidth, bool secondPass) override {
    int width = litehtml::el_image::render(x, y, maxWidth, secondPass);
    int extra = width - m_pos.width;  // margins, borders and padding
    // A size past the layout's integers comes back from it negative.
    m_pos.width = std::clamp(m_pos.width, 0, qk::htmlview::kMaxImageBox);
    m_pos.height = std::clamp(m_pos.height, 0, qk::htmlview::kMaxImageBox);
    return m_pos.width + extra;
  }
};

// ---------------------------------------------------------------- the page

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

// A font of the page with its measured words. Fonts outlive the documents
// that asked for them, so the next page (or zoom level) finds them made
// and their words measured.
struct FontEntry {
  std::string key;
  HFONT font = nullptr;
  litehtml::font_metrics metrics;
  bool underline = false, strike = false;
  std::unordered_map<std::string, int, TextHash, std::equal_to<>> widths;
};

class Page;

// Documents of pages no longer shown, freed once the next page is on the
// screen: taking a large document apart takes a good part of the time
// building one does. Each is freed before the page that made it goes (its
// destruction calls the page back).
struct Retired {
  Page* page;
  std::shared_ptr<litehtml::document> doc;
};
std::mutex g_retiredLock;
std::vector<Retired>& RetiredDocuments() {
  static std::vector<Retired> retired;
  return retired;
}
std::atomic<int> g_pendingPages{0};  // pages whose rest is still to be laid out

void FreeRetired(Page* only = nullptr) {
  std::vector<Retired> doomed;
  std::lock_guard<std::mutex> hold(g_retiredLock);
  auto& retired = RetiredDocuments();
  for (size_t k = 0; k < retired.size();) {
    if (!only || retired[k].page == only) {
      doomed.push_back(std::move(retired[k]));
      retired.erase(retired.begin() + static_cast<std::ptrdiff_t>(k));
    } else {
      ++k;
    }
  }
}

class Page final : public litehtml::document_container {
 public:
  HWND control = nullptr;  // the "DISPLAYCLASS" window
  HWND inner = nullptr;    // its page window
  std::u16string source;
  bool sourceCut = false;
  bool ended = false;
  int zoom = 2;
  bool shrink = true;
  std::shared_ptr<litehtml::document> doc;
  std::map<std::string, Image> images;  // by source
  DWORD nextCookie = 1;
  bool requesting = false;  // inside the image requests of a new page (laid out after them)
  int layoutWidth = 0;      // the width laid out at
  int scrollX = 0, scrollY = 0;
  std::vector<std::string> clicked;  // link targets from the last release
  litehtml::element::ptr pressedAnchor;   // the link under the last press
  litehtml::element::ptr releasedAnchor;  // and under the release
  HDC measureDC = nullptr;
  HDC drawDC = nullptr;
  std::vector<int> clipSaves;
  bool mayNeedOrder = false;             // the page may hold right-to-left text
  qk::htmlview::VisualOrder visualOrder;  // its lines as shown, planned at each layout
  bool firstScreenFirst = false;  // long pages are laid out from their first screen first
  bool pending = false;           // only the first screen is laid out; the whole source waits in `rest`
  int firstScreenHeight = 0;      // while pending: how far down the start shows what the whole page shows
  std::string rest;

  Page() { measureDC = CreateCompatibleDC(nullptr); }
  ~Page() {
    Clear();
    FreeRetired(this);
    DeleteFonts();
    if (measureDC) DeleteDC(measureDC);
  }

  void SetPending(bool now) {
    if (now != pending) g_pendingPages += now ? 1 : -1;
    pending = now;
    if (!now) rest.clear();
  }

  // Lets the document go; it is freed later (see Retired).
  void RetireDocument() {
    if (!doc) return;
    {
      std::lock_guard<std::mutex> hold(g_retiredLock);
      RetiredDocuments().push_back({this, std::move(doc)});
    }
    doc.reset();
    if (inner) PostMessageW(inner, kFreeRetiredMessage, 0, 0);
  }
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  void Clear() {
    pressedAnchor.reset();
    SetPending(false);
    RetireDocument();
    visualOrder.Clear();
    for (auto& [src, image] : images) image.Release();
    images.clear();
    source.clear();
    sourceCut = false;
    ended = false;
    layoutWidth = 0;
    scrollX = scrollY = 0;
  }

  void AddText(const char16_t* text, size_t n) {
    if (sourceCut) return;
    size_t room = qk::htmlview::kMaxSourceChars - std::min(source.size(), qk::htmlview::kMaxSourceChars);
    if (n > room) {
      n = room;
      sourceCut = true;
    }
    source.append(text, n);
  }

  int DpiY() const { return qk::gdi::ScreenDpi(); }
  int ClientWidth() const {
    RECT rc{};
    GetClientRect(inner, &rc);
    return std::max<LONG>(1, rc.right - rc.left);
  }
  int ClientHeight() const {
    RECT rc{};
    GetClientRect(inner, &rc);
    return std::max<LONG>(0, rc.bottom - rc.top);
  }

  // Parses the source and lays it out, then asks the host for the images
  // it names.
  void Build() {
    pressedAnchor.reset();
    SetPending(false);
    RetireDocument();
    visualOrder.Clear();
    if (fonts.size() > kMaxFonts) {
      FreeRetired(this);  // their documents hold the fonts
      DeleteFonts();
    }
    if (source.empty()) {
      layoutWidth = 0;
      Repaint();
      return;
    }
    std::string html = qk::htmlview::BoundSource(ToUtf8(source.data(), source.size()));
    mayNeedOrder = qk::htmlview::MayNeedVisualOrder(source);
    if (firstScreenFirst && BuildFirstScreen(html)) return;
    doc = litehtml::document::createFromUTF8(html.c_str(), this, Context(shrink));
    // The host is asked for the images the page names before the first
    // layout, so that answers given at once are laid out in one pass.
    RequestImages();
    Layout();
    Repaint();
  }

  // The height of the page window that shows on the screen.
  int ShownHeight() const { return std::min(ClientHeight(), GetSystemMetrics(SM_CYSCREEN)); }

  // Lays out the start of a long page, when it fills the screen, and leaves
  // the whole page for after the paint (kCompleteMessage); false when the
  // page is to be laid out whole at once.
  bool BuildFirstScreen(std::string& html) {
    if (!inner) return false;
    const size_t cut = qk::htmlview::FirstScreenCut(html, kFirstScreenText);
    if (cut == std::string::npos || cut > html.size() / 2) return false;
    doc = litehtml::document::createFromUTF8(html.substr(0, cut).c_str(), this, Context(shrink));
    RequestImages();
    Layout();
    if (!doc || CoveredHeight() < ShownHeight() || doc->width() > ClientWidth()) {
      // The start does not fill the screen (or is wider than it): the page
      // is laid out whole at once.
      RetireDocument();
      return false;
    }
    firstScreenHeight = CoveredHeight();
    rest = std::move(html);
    SetPending(true);
    if (inner) PostMessageW(inner, kCompleteMessage, 0, 0);
    Repaint();
    return true;
  }

  // How far down the start of a page shows what the whole page shows
  // there: its height without the room that the elements open at the cut
  // (the last child at each level, from the root) add below their content,
  // which the whole page fills with what follows. Counting the last
  // closed block's own room too errs on the short side.
  int CoveredHeight() const {
    if (!doc) return 0;
    int covered = doc->height();
    for (litehtml::element::ptr el = doc->root(); el;) {
      covered -= std::max(0, el->content_margins_bottom());
      const size_t count = el->get_children_count();
      el = count ? el->get_child(static_cast<int>(count - 1)) : nullptr;
    }
    return covered;
  }

  // Lays out the whole of a page shown from its first screen, where it
  // stands, and tells the parent (at once, or by a message posted to the
  // page window).
  void Complete(bool notifyNow = true) {
    if (!pending) return;
    std::string html = std::move(rest);
    SetPending(false);
    pressedAnchor.reset();
    RetireDocument();
    doc = litehtml::document::createFromUTF8(html.c_str(), this, Context(shrink));
    RequestImages();
    Layout();
    Repaint();
    if (notifyNow) NotifyComplete();
    else if (inner) PostMessageW(inner, kNotifyCompleteMessage, 0, 0);
  }

  void NotifyComplete() {
    HWND parent = GetParent(control);
    if (!parent || !IsWindow(control)) return;
    NM_HTMLVIEW nm{};
    nm.hdr.hwndFrom = control;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    nm.hdr.code = NM_LAYOUTCOMPLETE;
    SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }

  void Layout() {
    if (!doc) return;
    layoutWidth = ClientWidth();
    doc->render(layoutWidth);
    visualOrder.Clear();
    if (mayNeedOrder)
      visualOrder.Plan(doc->root(), [this](const std::string& text, litehtml::uint_ptr font) {
        return text_width(text.c_str(), font);
      });
    ClampScroll();
  }

  void RequestImages() {
    if (!doc) return;
    std::vector<std::pair<std::string, DWORD>> wanted;
    for (auto& [src, image] : images)
      if (!image.answered && !image.failed && image.cookie == 0) {
        image.cookie = nextCookie++;
        wanted.emplace_back(src, image.cookie);
      }
    if (wanted.empty()) return;
    HWND parent = GetParent(control);
    requesting = true;
    for (auto& [src, cookie] : wanted) {
      if (!parent || !IsWindow(control)) break;
      std::u16string target = ToUtf16(src);
      NM_HTMLVIEW nm{};
      nm.hdr.hwndFrom = control;
      nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(control));
      nm.hdr.code = NM_INLINE_IMAGE;
      nm.szTarget = target.c_str();
      nm.szData = nullptr;
      nm.dwCookie = cookie;
      SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
    }
    requesting = false;
  }

  bool SetImage(const INLINEIMAGEINFO* info) {
    if (!info) return false;
    for (auto& [src, image] : images) {
      if (image.cookie != info->dwCookie || image.cookie == 0) continue;
      image.Release();
      image.answered = info->hbm != nullptr;
      image.failed = info->hbm == nullptr;
      image.bitmap = info->hbm;
      image.own = info->bOwnBitmap != FALSE;
      BITMAP bm{};
      if (image.bitmap && GetObjectW(image.bitmap, sizeof bm, &bm)) {
        image.width = info->iOrigWidth > 0 ? info->iOrigWidth : bm.bmWidth;
        image.height = info->iOrigHeight > 0 ? info->iOrigHeight : bm.bmHeight;
        // A declared size beyond the bounded box is taken down to it with its
        // proportions, so that the layout's sums of sizes stay in range.
        const int64_t larger = std::max(image.width, image.height);
        if (larger > qk::htmlview::kMaxImageBox) {
          image.width = static_cast<int>(std::max<int64_t>(1, image.width * int64_t{qk::htmlview::kMaxImageBox} / larger));
          image.height = static_cast<int>(std::max<int64_t>(1, image.height * int64_t{qk::htmlview::kMaxImageBox} / larger));
        }
      }
      if (!requesting && doc) {
        Layout();
        Repaint();
      }
      return true;
    }
    if (info->hbm && info->bOwnBitmap) DeleteObject(info->hbm);
    return false;
  }

  void ImageFailed(DWORD cookie) {
    for (auto& [src, image] : images)
      if (image.cookie == cookie && cookie) image.failed = true;
  }

  void SetZoom(int level) {
    level = std::clamp(level, 0, 4);
    if (level == zoom) return;
    zoom = level;
    if (ended) Build();
  }

  void Repaint() {
    if (inner) InvalidateRect(inner, nullptr, TRUE);
  }

  void ClampScroll() {
    int h = doc ? doc->height() : 0, w = doc ? doc->width() : 0;
    scrollY = std::clamp(scrollY, 0, std::max(0, h - ClientHeight()));
    scrollX = std::clamp(scrollX, 0, std::max(0, w - ClientWidth()));
  }

  void Paint(HDC dc, const RECT& area) {
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(dc, &area, white);
    DeleteObject(white);
    if (!doc) return;
    // The start of a page shown from its first screen covers what shows of
    // it; anything below is drawn from the whole page.
    if (pending && area.bottom + scrollY > firstScreenHeight) Complete(false);
    if (!doc) return;
    drawDC = dc;
    litehtml::position clip(area.left, area.top, area.right - area.left, area.bottom - area.top);
    doc->draw(reinterpret_cast<litehtml::uint_ptr>(dc), -scrollX, -scrollY, &clip);
    while (!clipSaves.empty()) {
      RestoreDC(dc, clipSaves.back());
      clipSaves.pop_back();
    }
    drawDC = nullptr;
  }

  void ScrollBy(int dy) {
    Complete();
    int before = scrollY;
    scrollY += dy;
    ClampScroll();
    if (scrollY != before) Repaint();
  }

  // ------------------------------------------------------ fonts

  static constexpr size_t kMaxFonts = 48;       // kept between pages
  static constexpr size_t kMaxPageFonts = 256;  // made for one page
  std::vector<std::unique_ptr<FontEntry>> fonts;
  void DeleteFonts() {
    for (auto& f : fonts)
      if (f->font) DeleteObject(f->font);
    fonts.clear();
  }

  static std::u16string FaceFor(const char* family) {
    std::string list = family ? family : "";
    std::string first = list.substr(0, list.find(','));
    std::string name;
    for (char c : first)
      if (c != '"' && c != '\'') name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name == "monospace" || name == "courier" || name == "courier new" || name == "consolas" ||
        name == "menlo" || name == "monaco" || name == "lucida console")
      return u"DejaVu Sans Mono";
    if (name == "serif" || name == "times" || name == "times new roman" || name == "georgia")
      return u"DejaVu Serif";
    return u"Tahoma";
  }

  static FontEntry* Entry(litehtml::uint_ptr f) { return reinterpret_cast<FontEntry*>(f); }

  // ------------------------------------------------------ document_container

  litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                 litehtml::font_style italic, unsigned int decoration,
                                 litehtml::font_metrics* fm) override {
    // Glyphs are drawn at most kMaxFontPixels high, whatever size the page asks.
    size = std::clamp(size, 1, qk::htmlview::kMaxFontPixels);
    std::u16string face = FaceFor(faceName);
    std::string key = std::to_string(size) + "/" + std::to_string(weight) + "/" + std::to_string(italic) + "/" +
                      std::to_string(decoration) + "/" + ToUtf8(face.data(), face.size());
    for (auto& f : fonts)
      if (f->key == key) {
        if (fm) *fm = f->metrics;
        return reinterpret_cast<litehtml::uint_ptr>(f.get());
      }
    // A page that asks for very many fonts shares the last one beyond a bound.
    if (fonts.size() >= kMaxPageFonts) {
      if (fm) *fm = fonts.back()->metrics;
      return reinterpret_cast<litehtml::uint_ptr>(fonts.back().get());
    }
    auto entry = std::make_unique<FontEntry>();
    entry->key = key;
    LOGFONTW lf{};
    lf.lfHeight = -size;
    lf.lfWeight = weight;
    lf.lfItalic = italic == litehtml::fontStyleItalic;
    lf.lfUnderline = (decoration & litehtml::font_decoration_underline) != 0;
    lf.lfStrikeOut = (decoration & litehtml::font_decoration_linethrough) != 0;
    lf.lfQuality = ANTIALIASED_QUALITY;
    std::copy(face.begin(), face.begin() + std::min<size_t>(face.size(), LF_FACESIZE - 1), lf.lfFaceName);
    entry->font = CreateFontIndirectW(&lf);
    entry->underline = lf.lfUnderline;
    entry->strike = lf.lfStrikeOut;
    HGDIOBJ old = SelectObject(measureDC, entry->font);
    TEXTMETRICW tm{};
    GetTextMetricsW(measureDC, &tm);
    SelectObject(measureDC, old);
    entry->metrics.ascent = tm.tmAscent;
    entry->metrics.descent = tm.tmDescent;
    entry->metrics.height = tm.tmHeight;
    entry->metrics.x_height = std::max<int>(1, tm.tmAscent / 2);
    entry->metrics.draw_spaces = entry->underline || entry->strike;
    if (fm) *fm = entry->metrics;
    fonts.push_back(std::move(entry));
    return reinterpret_cast<litehtml::uint_ptr>(fonts.back().get());
  }

  // Fonts stay until the control goes (see FontEntry).
  void delete_font(litehtml::uint_ptr) override {}

  int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override {
    FontEntry* f = Entry(hFont);
    if (!f || !text) return 0;
    auto found = f->widths.find(std::string_view(text));
    if (found != f->widths.end()) return found->second;
    std::u16string w = ToUtf16(text, std::strlen(text));
    HGDIOBJ old = SelectObject(measureDC, f->font);
    SIZE size{};
    GetTextExtentPoint32W(measureDC, w.c_str(), static_cast<int>(w.size()), &size);
    SelectObject(measureDC, old);
    if (f->widths.size() < 20000) f->widths.emplace(text, size.cx);
    return size.cx;
  }

  void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                 litehtml::web_color color, const litehtml::position& pos) override {
    FontEntry* f = Entry(hFont);
    if (!f || !text || color.alpha == 0) return;
    HDC dc = reinterpret_cast<HDC>(hdc);
    std::u16string w = ToUtf16(text, std::strlen(text));
    HGDIOBJ old = SelectObject(dc, f->font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColour(color));
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    const qk::htmlview::VisualOrder::Box* shown =
        visualOrder.Empty() ? nullptr : visualOrder.Find(pos.x + scrollX, pos.y + scrollY, text);
    if (!shown) {
      ExtTextOutW(dc, pos.x, pos.y, 0, nullptr, w.c_str(), static_cast<UINT>(w.size()), nullptr);
    } else {
      // A box of a line with right-to-left text: its pieces where they show.
      for (const auto& piece : shown->pieces) {
        std::u16string part = ToUtf16(text + piece.start, piece.length);
        ExtTextOutW(dc, piece.x - scrollX, pos.y, piece.rtl ? ETO_RTLREADING : 0, nullptr, part.c_str(),
                    static_cast<UINT>(part.size()), nullptr);
      }
    }
    SelectObject(dc, old);
  }

  int pt_to_px(int pt) const override { return pt * DpiY() / 72; }

  int get_default_font_size() const override {
    // 7, 8, 9, 11 and 13 points for the five zoom levels.
    static const int kPoints[] = {7, 8, 9, 11, 13};
    return std::max(6, kPoints[std::clamp(zoom, 0, 4)] * DpiY() / 72);
  }

  const litehtml::tchar_t* get_default_font_name() const override { return "Tahoma"; }

  void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    if (!marker.image.empty()) {
      DrawImage(dc, marker.image, marker.pos, marker.pos);
      return;
    }
    const litehtml::position& p = marker.pos;
    COLORREF colour = ToColour(marker.color);
    switch (marker.marker_type) {
      case litehtml::list_style_type_circle:
      case litehtml::list_style_type_disc: {
        POINT pts[12];
        double cx = p.x + p.width / 2.0, cy = p.y + p.height / 2.0, r = std::max(1.5, p.width / 2.0);
        for (int i = 0; i < 12; ++i) {
          double a = i * 3.14159265358979 / 6;
          pts[i] = {static_cast<LONG>(cx + r * std::cos(a) + 0.5), static_cast<LONG>(cy + r * std::sin(a) + 0.5)};
        }
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HBRUSH brush = marker.marker_type == litehtml::list_style_type_disc ? CreateSolidBrush(colour) : nullptr;
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
        Polygon(dc, pts, 12);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(pen);
        if (brush) DeleteObject(brush);
        break;
      }
      case litehtml::list_style_type_square: {
        RECT rc{p.x, p.y, p.x + p.width, p.y + p.height};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &rc, brush);
        DeleteObject(brush);
        break;
      }
      default:
        break;  // numbered markers are drawn as text by the layout
    }
  }

  void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t*, bool) override {
    if (!src || !*src || images.size() >= qk::htmlview::kMaxImages) return;
    images.try_emplace(src);  // asked of the host before the layout (RequestImages)
  }

  void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t*, litehtml::size& sz) override {
    sz.width = sz.height = 0;
    if (!src) return;
    auto it = images.find(src);
    if (it != images.end() && it->second.answered) {
      sz.width = it->second.width;
      sz.height = it->second.height;
    }
  }

  // The copy of a picture scaled to w x h, made when missing; null when
  // such a copy would be larger than the screen. The copies of all
  // pictures together stay within two screenfuls: a copy that would pass
  // that makes the others go.
  HBITMAP ScaledCopy(HDC dc, Image& image, int w, int h, int sw, int sh) {
    if (image.scaled && image.scaledWidth == w && image.scaledHeight == h) return image.scaled;
    image.DropScaled();
    const int64_t screen =
        static_cast<int64_t>(GetSystemMetrics(SM_CXSCREEN)) * static_cast<int64_t>(GetSystemMetrics(SM_CYSCREEN));
    const int64_t size = static_cast<int64_t>(w) * h;
    if (size > screen) return nullptr;
    int64_t kept = 0;
    for (const auto& [src, other] : images) kept += static_cast<int64_t>(other.scaledWidth) * other.scaledHeight;
    if (kept + size > 2 * screen)
      for (auto& [src, other] : images) other.DropScaled();
    image.scaled = CreateCompatibleBitmap(dc, w, h);
    if (!image.scaled) return nullptr;
    image.scaledWidth = w;
    image.scaledHeight = h;
    HDC from = CreateCompatibleDC(dc);
    HDC to = CreateCompatibleDC(dc);
    HGDIOBJ o1 = SelectObject(from, image.bitmap);
    HGDIOBJ o2 = SelectObject(to, image.scaled);
    SetStretchBltMode(to, HALFTONE);
    StretchBlt(to, 0, 0, w, h, from, 0, 0, sw, sh, SRCCOPY);
    SelectObject(to, o2);
    SelectObject(from, o1);
    DeleteDC(to);
    DeleteDC(from);
    return image.scaled;
  }

  // Draws a picture into the box `at`, only where it meets `clip`.
  void DrawImage(HDC dc, const std::string& src, const litehtml::position& at, const litehtml::position& clip) {
    auto it = images.find(src);
    if (it == images.end() || !it->second.answered || !it->second.bitmap) return;
    Image& image = it->second;
    int w = at.width, h = at.height;
    if (w <= 0 || h <= 0) return;
    int sw = image.width, sh = image.height;
    BITMAP bm{};
    if (GetObjectW(image.bitmap, sizeof bm, &bm)) {
      sw = bm.bmWidth;
      sh = bm.bmHeight;
    }
    HBITMAP source = image.bitmap;
    bool scale = false;
    if (sw != w || sh != h) {
      source = ScaledCopy(dc, image, w, h, sw, sh);
      // Larger than the screen: the part drawn is scaled as it is drawn.
      if (!source) {
        source = image.bitmap;
        scale = true;
      }
    }
    int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left(), clip.top(), clip.right(), clip.bottom());
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, source);
    if (scale) StretchBlt(dc, at.x, at.y, w, h, mem, 0, 0, sw, sh, SRCCOPY);
    else BitBlt(dc, at.x, at.y, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    RestoreDC(dc, saved);
  }

  void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    if (bg.color.alpha) {
      RECT rc{bg.clip_box.left(), bg.clip_box.top(), bg.clip_box.right(), bg.clip_box.bottom()};
      if (bg.is_root) GetClipBox(dc, &rc);
      HBRUSH brush = CreateSolidBrush(ToColour(bg.color));
      FillRect(dc, &rc, brush);
      DeleteObject(brush);
    }
    if (bg.image.empty() || bg.image_size.width <= 0 || bg.image_size.height <= 0) return;
    litehtml::position at(bg.position_x, bg.position_y, bg.image_size.width, bg.image_size.height);
    bool repeatX = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_x;
    bool repeatY = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_y;
    if (!repeatX && !repeatY) {
      DrawImage(dc, bg.image, at, bg.clip_box);
      return;
    }
    // Tiles, at most a screenful of them in each direction.
    const litehtml::position& box = bg.clip_box;
    int x0 = at.x, y0 = at.y;
    if (repeatX) while (x0 > box.left()) x0 -= at.width;
    if (repeatY) while (y0 > box.top()) y0 -= at.height;
    int tiles = 0;
    for (int y = y0; y < box.bottom() && tiles < 4096; y += at.height) {
      for (int x = x0; x < box.right() && tiles < 4096; x += at.width) {
        DrawImage(dc, bg.image, litehtml::position(x, y, at.width, at.height), box);
        ++tiles;
        if (!repeatX) break;
      }
      if (!repeatY) break;
    }
  }

  void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b, const litehtml::position& p, bool) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    auto side = [&](const litehtml::border& border, RECT rc) {
      if (border.width <= 0 || border.style == litehtml::border_style_none ||
          border.style == litehtml::border_style_hidden || border.color.alpha == 0)
        return;
      HBRUSH brush = CreateSolidBrush(ToColour(border.color));
      FillRect(dc, &rc, brush);
      DeleteObject(brush);
    };
    side(b.top, {p.left(), p.top(), p.right(), p.top() + b.top.width});
    side(b.bottom, {p.left(), p.bottom() - b.bottom.width, p.right(), p.bottom()});
    side(b.left, {p.left(), p.top(), p.left() + b.left.width, p.bottom()});
    side(b.right, {p.right() - b.right.width, p.top(), p.right(), p.bottom()});
  }

  void set_caption(const litehtml::tchar_t*) override {}
  void set_base_url(const litehtml::tchar_t*) override {}
  void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
  // A link counts as tapped only when both the press and the release were on it.
  void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) override {
    if (url && el && el == pressedAnchor && el == releasedAnchor) clicked.emplace_back(url);
  }

  static litehtml::element::ptr AnchorOf(litehtml::element::ptr el) {
    for (int depth = 0; el && depth < 1000; ++depth, el = el->parent())
      if (el->get_tagName() && std::strcmp(el->get_tagName(), "a") == 0) return el;
    return nullptr;
  }
  void set_cursor(const litehtml::tchar_t*) override {}

  void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
    if (tt == litehtml::text_transform_none) return;
    std::u16string w = ToUtf16(text);
    bool start = true;
    for (char16_t& c : w) {
      bool letter = std::iswalpha(c);
      if (tt == litehtml::text_transform_uppercase) c = static_cast<char16_t>(std::towupper(c));
      else if (tt == litehtml::text_transform_lowercase) c = static_cast<char16_t>(std::towlower(c));
      else if (tt == litehtml::text_transform_capitalize && start && letter) c = static_cast<char16_t>(std::towupper(c));
      start = !letter;
    }
    text = ToUtf8(w.data(), w.size());
  }

  // Text is laid out in boxes: one per word, one per space between words,
  // one per ideograph (so that such text breaks between any two). A word
  // and the one plain space after it (when another word follows) make one
  // box here: the page has about half the boxes to lay out, and lines still
  // break after each word (a line's last word keeps its space, so a line
  // may end a word earlier than it would have to).
  void split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                  const std::function<void(const litehtml::tchar_t*)>& on_space) override {
    std::string word;
    auto flush = [&] {
      if (!word.empty()) on_word(word.c_str());
      word.clear();
    };
    using qk::htmlview::IsBlank;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + std::strlen(text);
    while (*p) {
      unsigned char c = *p;
      if (IsBlank(c)) {
        if (c == ' ' && !word.empty() && p[1] && !IsBlank(p[1])) {
          word.push_back(' ');
          flush();
        } else {
          flush();
          char blank[2] = {static_cast<char>(c), 0};
          on_space(blank);
        }
        ++p;
        continue;
      }
      uint32_t cp = 0;
      int len = qk::htmlview::Utf8Char(p, end, &cp);
      if (qk::htmlview::BreaksAnywhere(cp)) {
        flush();
        word.assign(reinterpret_cast<const char*>(p), len);
        flush();
      } else {
        word.append(reinterpret_cast<const char*>(p), len);
      }
      p += len;
    }
    flush();
  }

  // A page's linked style sheets are never fetched.
  void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}

  void set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool, bool) override {
    if (!drawDC) return;
    clipSaves.push_back(SaveDC(drawDC));
    IntersectClipRect(drawDC, pos.left(), pos.top(), pos.right(), pos.bottom());
  }
  void del_clip() override {
    if (!drawDC || clipSaves.empty()) return;
    RestoreDC(drawDC, clipSaves.back());
    clipSaves.pop_back();
  }

  void get_client_rect(litehtml::position& client) const override {
    client = litehtml::position(0, 0, ClientWidth(), ClientHeight());
  }

  std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tag, const litehtml::string_map&,
                                                    const std::shared_ptr<litehtml::document>& doc) override {
    if (tag && std::strcmp(tag, "img") == 0) return std::make_shared<BoundedImage>(doc);
    return nullptr;
  }

  void get_media_features(litehtml::media_features& media) const override {
    qk::gdi::ScreenConfig cfg = qk::gdi::GetScreenConfig();
    media.type = litehtml::media_type_screen;
    media.width = ClientWidth();
    media.height = ClientHeight();
    media.device_width = cfg.width;
    media.device_height = cfg.height;
    media.color = 8;
    media.monochrome = 0;
    media.color_index = 256;
    media.resolution = cfg.dpi;
  }

  void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
    language = "en";
    culture = "";
  }

  static litehtml::context* Context(bool shrink) {
    static std::once_flag once;
    static litehtml::context plain, shrinking;
    std::call_once(once, [] {
      plain.load_master_stylesheet(qk::htmlview::ArticleStyleSheet());
      std::string css = qk::htmlview::ArticleStyleSheet();
      css += "\nimg { max-width: 100%; }\n";
      shrinking.load_master_stylesheet(css.c_str());
    });
    return shrink ? &shrinking : &plain;
  }
};

Page* PageOf(HWND window) { return reinterpret_cast<Page*>(GetWindowLongW(window, GWL_USERDATA)); }

void NotifyLinks(Page* page) {
  std::vector<std::string> targets;
  targets.swap(page->clicked);
  HWND control = page->control;
  for (const std::string& t : targets) {
    HWND parent = GetParent(control);
    if (!parent || !IsWindow(control)) return;
    std::u16string target = ToUtf16(t);
    NM_HTMLVIEW nm{};
    nm.hdr.hwndFrom = control;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    nm.hdr.code = NM_HOTSPOT;
    nm.szTarget = target.c_str();
    SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
}

int LineStep(Page* page) { return std::max(8, page->get_default_font_size() * 3); }

// The page window: draws, scrolls, takes the stylus and the keys.
LRESULT CALLBACK PageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  Page* page = PageOf(window);
  switch (msg) {
    case WM_CREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      // A view made as tall as its page (to be scrolled by moving it) is
      // drawn only where it is on the screen.
      RECT area = ps.rcPaint, screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      POINT tl{screen.left, screen.top}, br{screen.right, screen.bottom};
      ScreenToClient(window, &tl);
      ScreenToClient(window, &br);
      RECT visible{tl.x, tl.y, br.x, br.y};
      if (!IntersectRect(&area, &ps.rcPaint, &visible)) SetRectEmpty(&area);
      if (dc && page && !IsRectEmpty(&area)) page->Paint(dc, area);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SIZE:
      if (page && page->doc && page->ClientWidth() != page->layoutWidth) {
        if (page->pending) page->Complete();  // laid out whole at the new width
        else page->Layout();
      }
      if (page) page->ClampScroll();
      return 0;
    case kCompleteMessage: {
      if (!page || !page->pending) return 0;
      // What is owed is painted and shown first (the display shows the
      // screen when the thread is about to wait); then the whole page.
      MSG owed;
      for (int k = 0; k < 64 && PeekMessageW(&owed, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++k)
        DispatchMessageW(&owed);
      if (!IsWindow(window) || PageOf(window) != page || !page->pending) return 0;
      qk::RunIdleHook();
      if (!IsWindow(window) || PageOf(window) != page) return 0;
      page->Complete();
      if (g_pendingPages == 0) FreeRetired();
      return 0;
    }
    case kNotifyCompleteMessage:
      if (page) page->NotifyComplete();
      return 0;
    case kFreeRetiredMessage:
      // A page still to be laid out whole frees them once it is shown.
      if (g_pendingPages == 0) FreeRetired();
      return 0;
    case WM_GETDLGCODE:
      return 0x0001 | 0x0004;  // arrows and characters stay here
    case WM_KEYDOWN:
      if (!page) break;
      page->Complete();
      switch (wParam) {
        case VK_UP: page->ScrollBy(-LineStep(page)); return 0;
        case VK_DOWN: page->ScrollBy(LineStep(page)); return 0;
        case VK_PRIOR: page->ScrollBy(-std::max(1, page->ClientHeight() - LineStep(page))); return 0;
        case VK_NEXT: page->ScrollBy(std::max(1, page->ClientHeight() - LineStep(page))); return 0;
        case VK_HOME: page->ScrollBy(-page->scrollY); return 0;
        case VK_END: page->ScrollBy(page->doc ? page->doc->height() : 0); return 0;
        default: break;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      if (page) page->Complete();
      if (!page || !page->doc) break;
      int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
      // The point of the layout under the stylus: text shown elsewhere than
      // laid out (right-to-left lines) is found where it shows.
      int px = x + page->scrollX, py = y + page->scrollY;
      page->visualOrder.ToLayout(px, py);
      x = px - page->scrollX;
      litehtml::position::vector redraw;
      page->clicked.clear();
      if (msg == WM_LBUTTONDOWN) {
        page->doc->on_lbutton_down(px, py, x, y, redraw);
        page->pressedAnchor =
            page->doc->root() ? Page::AnchorOf(page->doc->root()->get_element_by_point(px, py, x, y)) : nullptr;
      } else {
        page->releasedAnchor =
            page->doc->root() ? Page::AnchorOf(page->doc->root()->get_element_by_point(px, py, x, y)) : nullptr;
        page->doc->on_lbutton_up(px, py, x, y, redraw);
        page->pressedAnchor.reset();
        page->releasedAnchor.reset();
        NotifyLinks(page);
      }
      if (!redraw.empty()) page->Repaint();
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

// The control window: keeps the page, answers the viewer's messages.
LRESULT CALLBACK ControlProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  Page* page = PageOf(window);
  switch (msg) {
    case WM_CREATE: {
      auto* created = new Page();
      created->control = window;
      SetWindowLongW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(created));
      RECT rc{};
      GetClientRect(window, &rc);
      created->inner = CreateWindowExW(0, kInnerClass, u"", WS_CHILD | WS_VISIBLE, 0, 0, rc.right, rc.bottom, window,
                                       nullptr, nullptr, created);
      if (!created->inner) return -1;
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      if (cs->lpszName && *cs->lpszName) {
        created->AddText(cs->lpszName, wcslen(cs->lpszName));
        created->ended = true;
        created->Build();
      }
      return 0;
    }
    case WM_SIZE:
      if (page && page->inner) MoveWindow(page->inner, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_MOVE:
      // Moved (full-screen reading scrolls the page so): the page shows
      // another part of itself on the screen.
      if (page && page->inner) InvalidateRect(page->inner, nullptr, TRUE);
      return 0;
    case WM_SETFOCUS:
      if (page && page->inner) SetFocus(page->inner);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      if (!page) return FALSE;
      page->Clear();
      auto* text = reinterpret_cast<LPCWSTR>(lParam);
      if (text && *text) {
        page->AddText(text, wcslen(text));
        page->ended = true;
      }
      page->Build();
      return TRUE;
    }
    case WM_GETTEXTLENGTH:
      return page ? static_cast<LRESULT>(page->source.size()) : 0;
    case DTM_ADDTEXTW:
      if (page && lParam) {
        auto* text = reinterpret_cast<LPCWSTR>(lParam);
        page->AddText(text, wcslen(text));
      }
      return 0;
    case DTM_ADDTEXT:
      if (page && lParam) {
        auto* text = reinterpret_cast<const char*>(lParam);
        std::u16string w = ToUtf16(text, std::strlen(text));
        page->AddText(w.data(), w.size());
      }
      return 0;
    case DTM_ENDOFSOURCE:
      if (page) {
        page->ended = true;
        page->Build();
      }
      return 0;
    case DTM_CLEAR:
      if (page) {
        page->Clear();
        page->Build();
      }
      return 0;
    case DTM_ZOOMLEVEL:
      if (page) page->SetZoom(static_cast<int>(lParam));
      return 0;
    case DTM_LAYOUTWIDTH:
      return page && page->doc ? page->doc->width() : 0;
    case DTM_LAYOUTHEIGHT:
      return page && page->doc ? page->doc->height() : 0;
    case DTM_ENABLESHRINK:
      if (page && (lParam != 0) != page->shrink) {
        page->shrink = lParam != 0;
        if (page->ended) page->Build();
      }
      return 0;
    case DTM_ENABLESCRIPTING:
      return 0;  // the viewer runs no script, whatever it is asked
    case DTM_FIRSTSCREENFIRST:
      if (page) {
        page->firstScreenFirst = lParam != 0;
        if (!page->firstScreenFirst) page->Complete();
      }
      return 0;
    case DTM_SETIMAGE:
      return page && page->SetImage(reinterpret_cast<const INLINEIMAGEINFO*>(lParam)) ? TRUE : FALSE;
    case DTM_IMAGEFAIL:
      if (page) page->ImageFailed(static_cast<DWORD>(lParam));
      return 0;
    case WM_NCDESTROY:
      if (page) {
        SetWindowLongW(window, GWL_USERDATA, 0);
        delete page;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

BOOL InitHTMLControl(HINSTANCE instance) {
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  WNDCLASSW wc{};
  if (!GetClassInfoW(instance, DISPLAYCLASS, &wc)) {
    wc = {};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = instance;
    wc.lpszClassName = DISPLAYCLASS;
    if (!RegisterClassW(&wc)) return FALSE;
  }
  if (!GetClassInfoW(instance, kInnerClass, &wc)) {
    wc = {};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = PageProc;
    wc.hInstance = instance;
    wc.lpszClassName = kInnerClass;
    if (!RegisterClassW(&wc)) return FALSE;
  }
  return TRUE;
}
