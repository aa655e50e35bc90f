// The HTML viewer control, window class "DISPLAYCLASS".
//
// The control is a child window that shows one HTML page. Its first child,
// the inner window, lays the page out, draws it, scrolls it and takes the
// keys and the stylus; the control itself only receives the messages below
// and passes them on. Pages are parsed by gumbo and laid out by litehtml,
// and drawn with the drawing layer's fonts and blits. Nothing in a page is
// ever run or fetched: scripts are inert, style sheets the page links to
// are not loaded, and images come only from the host (NM_INLINE_IMAGE).
//
// Text arrives as UTF-16 (WM_SETTEXT, DTM_ADDTEXTW) and is laid out when
// the source ends (DTM_ENDOFSOURCE; WM_SETTEXT with text ends it at once).
// The page is styled by the viewer's own style sheet, written for reading
// articles. Of the page's own styles only style attributes are kept, and of
// them only the properties that change how text and boxes look (colours,
// fonts, alignment, margins, borders, sizes); floats, positions and display
// types are dropped, and so are <style> and <link> elements.
//
// Bounds that keep a hostile page from taking the device down: the source
// kept is at most kMaxSourceChars characters, its text at most
// kMaxTextChars characters and its tags at most kMaxTags, with at most
// kMaxListItems list items in any one element; elements nested deeper than
// kMaxDepth, and tables nested deeper than kMaxTableDepth, are flattened
// into their ancestor; at most kMaxImages distinct images are asked of the
// host. The layout's work is bounded by kMaxLayoutCost: each box it lays
// out counts its own cost (kWordCost for a word, an ideograph or a lone
// blank of the text, kElementCost for an element) plus the depth it lies
// at (a list counting two levels, with its item), doubled for every table
// around it beyond the first, as the layout's time for a box grows so.
// Tables keep a cell for every place of their grid (as many rows as the
// table has, each as wide as its widest): a cell spans at most
// kMaxColumnSpan columns and kMaxRowSpan rows, and the grids of a page
// hold at most kMaxTableCells places, weighed by the tables around them
// as boxes are. Whatever lies beyond a bound is left out. These keep the layout of any
// page within about a second, while a long article (all the text
// kMaxTextChars allows, with its paragraphs, links and pictures, even
// inside layout tables) stays whole.
//
// Text is drawn at most kMaxFontPixels pixels high and a picture laid out
// at most kMaxImageBox pixels wide and high, whatever sizes the page gives
// them (a size the host declares beyond that is taken down to it, in
// proportion). A picture drawn at another size than its own is
// scaled as it is drawn; scaled copies are kept for the next paint only up
// to a screenful each and two screenfuls in all, so the memory a page's
// pictures take does not grow with the sizes the page asks for.
#pragma once

#include <cstddef>
#include <string>

#include "controls/commctrl.h"  // NMHDR
#include "gdi/gdi.h"
#include "user/user.h"

#define DISPLAYCLASS u"DISPLAYCLASS"
#define WC_HTML DISPLAYCLASS

// Messages to the control.
#define DTM_ADDTEXT (WM_USER + 101)
#define DTM_ADDTEXTW (WM_USER + 102)      // lParam: UTF-16 text to append (wParam ignored)
#define DTM_SETIMAGE (WM_USER + 103)      // lParam: INLINEIMAGEINFO*
#define DTM_ENDOFSOURCE (WM_USER + 104)   // the source is complete: lay it out and draw it
#define DTM_ENABLESHRINK (WM_USER + 107)  // lParam TRUE: images wider than the page are shrunk
#define DTM_CLEAR (WM_USER + 113)         // empties the page
#define DTM_ENABLESCRIPTING (WM_USER + 115)  // accepted; the viewer never runs a page's scripts
#define DTM_ZOOMLEVEL (WM_USER + 116)     // lParam 0 (smallest) to 4 (largest); 2 is the default
#define DTM_LAYOUTWIDTH (WM_USER + 117)   // returns the page's laid-out width in pixels
#define DTM_LAYOUTHEIGHT (WM_USER + 118)  // returns the page's laid-out height in pixels
#define DTM_IMAGEFAIL (WM_USER + 109)     // lParam: cookie of a request the host cannot answer
// lParam TRUE: a long page is shown from its first screen first. The
// control then lays out only the start of the page that fills the screen
// and draws it; the whole page follows once that is painted and shown (it
// looks the same on the screen), and the control tells its parent with
// NM_LAYOUTCOMPLETE. Until then DTM_LAYOUTWIDTH and DTM_LAYOUTHEIGHT give
// the sizes laid out so far; the keys, the stylus and scrolling lay the
// whole page out first.
#define DTM_FIRSTSCREENFIRST (WM_USER + 119)

// Notifications to the control's parent (WM_NOTIFY, lParam NM_HTMLVIEW*).
#define NM_HOTSPOT (WM_USER + 101)       // a link was tapped: szTarget is its target
#define NM_INLINE_IMAGE (WM_USER + 102)  // szTarget is an image's source, dwCookie identifies the request
#define NM_LAYOUTCOMPLETE (WM_USER + 103)  // a page shown from its first screen is now laid out whole

struct NM_HTMLVIEW {
  NMHDR hdr;
  LPCWSTR szTarget;
  LPCWSTR szData;
  DWORD dwCookie;
  LPCWSTR szExInfo;
};
typedef NM_HTMLVIEW* LPNM_HTMLVIEW;

// The host's answer to an inline-image request. The picture is drawn at
// iOrigWidth x iOrigHeight; with bOwnBitmap set the control deletes hbm when
// it no longer needs it, otherwise the host keeps it alive while the page
// shows it.
struct INLINEIMAGEINFO {
  DWORD dwCookie;
  int iOrigHeight;
  int iOrigWidth;
  HBITMAP hbm;
  BOOL bOwnBitmap;
};
typedef INLINEIMAGEINFO* LPINLINEIMAGEINFO;

// Registers the control's window classes for the program (any instance);
// TRUE also when they are registered already.
BOOL InitHTMLControl(HINSTANCE instance);

namespace qk::htmlview {

constexpr size_t kMaxSourceChars = 12u << 20;
constexpr size_t kMaxTextChars = 256u << 10;
constexpr size_t kMaxTags = 40000;
constexpr size_t kMaxListItems = 1000;  // numbered items cost the layout time in the square of their count
constexpr size_t kMaxLayoutCost = 1500000;
constexpr size_t kWordCost = 2;
constexpr size_t kElementCost = 48;
constexpr int kMaxDepth = 64;
constexpr int kMaxTableDepth = 4;
constexpr size_t kMaxTableCells = 1u << 18;  // 64 bytes each in the layout
constexpr int kMaxColumnSpan = 1000;
constexpr int kMaxRowSpan = 65534;
constexpr size_t kMaxImages = 500;  // distinct image sources asked of the host per page
constexpr int kMaxImageBox = 16384;
constexpr int kMaxFontPixels = 400;

// Bounds a page's source: drops tags nested deeper than maxDepth and
// tables nested deeper than kMaxTableDepth (their text stays, in the
// ancestor), cuts the source where its text passes maxText characters, its
// tags pass maxTags, its layout cost passes maxCost, the list items of
// one element pass kMaxListItems or its tables' grids pass kMaxTableCells,
// holds cells' spans to their bounds and filters the page's styles (above).
// Used by the control before parsing; exposed for tests.
std::string BoundSource(const std::string& utf8, int maxDepth = kMaxDepth, size_t maxText = kMaxTextChars,
                        size_t maxTags = kMaxTags, size_t maxCost = kMaxLayoutCost);

// Where a page shown from its first screen (DTM_FIRSTSCREENFIRST) is cut:
// the offset in the bounded source, after at least `text` characters of
// visible text (blanks do not count), just past the end of a block that the
// parser ends there too, around which only plain block containers (the
// body, divisions, sections, lists) are open, none of them with a bottom
// margin, padding or border of its own style, and with no <body> or <html>
// start tag after it (the parser gives its attributes to the page's root),
// so that the layout of what precedes it is that of the whole page; npos
// when the page has no such place. Exposed for tests.
size_t FirstScreenCut(const std::string& html, size_t text);

// The viewer's own style sheet.
const char* ArticleStyleSheet();

}  // namespace qk::htmlview
